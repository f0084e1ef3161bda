# A private certificate authority for tests and benchmarks, sourced by their scripts: in the
# current folder, ca.cnf with its database, and functions that make keys, CAs and server
# certificates with openssl. Nothing here is ever installed; each script decides where its CA
# is trusted.
#   test_ca_init     writes ca.cnf, index.txt and serial; sets from and to (a day either side)
#   ca NAME          NAME.key and NAME.pem, a self-signed CA
#   cert NAME CA SUBJECT_ALT_NAMES START END
#                    NAME.key and NAME.crt for a server, issued by CA
# shellcheck shell=bash

test_ca_init() {
    cat >ca.cnf <<'CONF'
[ca]
default_ca = test
[test]
database = index.txt
serial = serial
new_certs_dir = .
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
CONF
    : >index.txt && echo 01 >serial
    from=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ) to=$(date -u -d '+1 day' +%Y%m%d%H%M%SZ)
}
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
ca() {
    key "$1" && openssl req -x509 -new -key "$1.key" -out "$1.pem" -days 2 -subj "/CN=Rizi $1" \
        -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign
}
cert() {
    key "$1" && openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$1" \
        -addext "subjectAltName=$3" -addext extendedKeyUsage=serverAuth &&
        openssl ca -batch -notext -config ca.cnf -cert "$2.pem" -keyfile "$2.key" -in "$1.csr" \
            -out "$1.crt" -startdate "$4" -enddate "$5" 2>/dev/null
}
