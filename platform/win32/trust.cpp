#include "platform/trust.h"

#include <cstdio>
#include <windows.h>
// After windows.h: the chain engine (CRYPT32), and WinHTTP's name for the flag that leaves the
// name out of the SSL policy.
#include <wincrypt.h>
#include <winhttp.h>

namespace platform {
namespace {

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

// A chain with any of these ends at no root the system trusts. Checked apart from the policy:
// wine's SSL policy lets a chain that stops short of any root (a partial chain) pass.
constexpr DWORD UntrustedChain = CERT_TRUST_IS_PARTIAL_CHAIN | CERT_TRUST_IS_UNTRUSTED_ROOT |
                                 CERT_TRUST_IS_NOT_SIGNATURE_VALID | CERT_TRUST_IS_CYCLIC;

// Owners that free what CRYPT32 handed out on every path.
class StoreHolder {
  public:
    explicit StoreHolder(HCERTSTORE store) : store_(store) {}
    ~StoreHolder() {
        if (store_ != nullptr)
            CertCloseStore(store_, 0);
    }
    StoreHolder(const StoreHolder&) = delete;
    StoreHolder& operator=(const StoreHolder&) = delete;
    HCERTSTORE Get() const { return store_; }

  private:
    HCERTSTORE store_;
};

class CertificateHolder {
  public:
    CertificateHolder() = default;
    ~CertificateHolder() {
        if (certificate_ != nullptr)
            CertFreeCertificateContext(certificate_);
    }
    CertificateHolder(const CertificateHolder&) = delete;
    CertificateHolder& operator=(const CertificateHolder&) = delete;
    PCCERT_CONTEXT Get() const { return certificate_; }
    PCCERT_CONTEXT* Out() { return &certificate_; }

  private:
    PCCERT_CONTEXT certificate_ = nullptr;
};

class ChainHolder {
  public:
    ChainHolder() = default;
    ~ChainHolder() {
        if (chain_ != nullptr)
            CertFreeCertificateChain(chain_);
    }
    ChainHolder(const ChainHolder&) = delete;
    ChainHolder& operator=(const ChainHolder&) = delete;
    PCCERT_CHAIN_CONTEXT Get() const { return chain_; }
    PCCERT_CHAIN_CONTEXT* Out() { return &chain_; }

  private:
    PCCERT_CHAIN_CONTEXT chain_ = nullptr;
};

// Why the SSL policy refused the chain, as words that follow "the certificate of HOST".
void SetReason(HRESULT error, char (&reason)[TrustReasonBytes]) {
    switch (error) {
    case CERT_E_EXPIRED: {
        // The dates are judged by this machine's clock: say what it reads, since a clock far
        // off is the usual cause.
        SYSTEMTIME now;
        GetSystemTime(&now);
        std::snprintf(reason, TrustReasonBytes,
                      "has expired or is not yet valid by this machine's clock "
                      "(%04u-%02u-%02u %02u:%02u UTC)",
                      now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute);
        return;
    }
    case CERT_E_UNTRUSTEDROOT:
    case CERT_E_CHAINING:
    case CERT_E_UNTRUSTEDTESTROOT:
        std::snprintf(reason, TrustReasonBytes, "is not issued by a root this machine trusts");
        return;
    case CERT_E_CN_NO_MATCH:
    case CERT_E_INVALID_NAME:
        std::snprintf(reason, TrustReasonBytes, "is for another name");
        return;
    case CERT_E_WRONG_USAGE:
        std::snprintf(reason, TrustReasonBytes, "is not for a server");
        return;
    default:
        std::snprintf(reason, TrustReasonBytes, "was refused by the system's chain check (0x%08lX)",
                      static_cast<unsigned long>(error));
        return;
    }
}

} // namespace

const char* CaBundlePath() {
    return nullptr;
}

bool CheckChainWithSystem(const DerCertificate* chain, int count, const char* host,
                          char (&reason)[TrustReasonBytes]) {
    reason[0] = '\0';
    // Step 1: the certificates the server sent, in a store of their own; the first is the leaf.
    StoreHolder store(
        CertOpenStore(CERT_STORE_PROV_MEMORY, 0, 0, CERT_STORE_CREATE_NEW_FLAG, nullptr));
    if (store.Get() == nullptr) {
        std::snprintf(reason, TrustReasonBytes, "cannot be checked (no certificate store)");
        return false;
    }
    CertificateHolder leaf;
    for (int i = 0; i < count; ++i) {
        // One the engine cannot read is left out: the chain then fails as incomplete.
        if (chain[i].data != nullptr && chain[i].length > 0)
            CertAddEncodedCertificateToStore(store.Get(), Encoding, chain[i].data,
                                             static_cast<DWORD>(chain[i].length),
                                             CERT_STORE_ADD_ALWAYS, i == 0 ? leaf.Out() : nullptr);
    }
    if (leaf.Get() == nullptr) {
        std::snprintf(reason, TrustReasonBytes, "cannot be read");
        return false;
    }
    // Step 2: the chain from the leaf to a root of the system's, for server authentication;
    // the server's other certificates may serve as intermediates.
    LPSTR server_auth[] = {const_cast<LPSTR>(szOID_PKIX_KP_SERVER_AUTH)};
    CERT_CHAIN_PARA para;
    ZeroMemory(&para, sizeof para);
    para.cbSize = sizeof para;
    para.RequestedUsage.dwType = USAGE_MATCH_TYPE_AND;
    para.RequestedUsage.Usage.cUsageIdentifier = 1;
    para.RequestedUsage.Usage.rgpszUsageIdentifier = server_auth;
    ChainHolder built;
    if (!CertGetCertificateChain(nullptr, leaf.Get(), nullptr, store.Get(), &para, 0, nullptr,
                                 built.Out())) {
        std::snprintf(reason, TrustReasonBytes, "cannot be checked (error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    // Step 3: a chain that reaches no trusted root fails first, whatever else is wrong.
    if ((built.Get()->TrustStatus.dwErrorStatus & UntrustedChain) != 0) {
        SetReason(CERT_E_UNTRUSTEDROOT, reason);
        return false;
    }
    // Step 4: the SSL policy for a server of that name, as a web client applies it: the root,
    // the dates, the name, the use. Without a name, the name is left out.
    wchar_t name[256];
    if (host != nullptr &&
        MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, host, -1, name, 256) == 0) {
        SetReason(CERT_E_CN_NO_MATCH, reason);
        return false;
    }
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl;
    ZeroMemory(&ssl, sizeof ssl);
    ssl.cbSize = sizeof ssl;
    ssl.dwAuthType = AUTHTYPE_SERVER;
    ssl.fdwChecks = host != nullptr ? 0 : SECURITY_FLAG_IGNORE_CERT_CN_INVALID;
    ssl.pwszServerName = host != nullptr ? name : nullptr;
    CERT_CHAIN_POLICY_PARA policy;
    ZeroMemory(&policy, sizeof policy);
    policy.cbSize = sizeof policy;
    policy.pvExtraPolicyPara = &ssl;
    CERT_CHAIN_POLICY_STATUS status;
    ZeroMemory(&status, sizeof status);
    status.cbSize = sizeof status;
    if (!CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, built.Get(), &policy, &status)) {
        std::snprintf(reason, TrustReasonBytes, "cannot be checked (error %lu)",
                      static_cast<unsigned long>(GetLastError()));
        return false;
    }
    if (status.dwError == 0)
        return true;
    SetReason(static_cast<HRESULT>(status.dwError), reason);
    return false;
}

} // namespace platform
