// Prints, for every action of the plug-in's action document, the action name and the help page
// that the help export asks the viewer for: "NAME<TAB>PAGE.htm", one line each. The names
// come from the document as the export hands it over and the page from HelpPageName, so the
// help tests check the help file against the product itself.
#include "plugin/action_xml.h"
#include "plugin/help.h"
#include "plugin/lifecycle.h"
#include "plugin/thread_text.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace {

// The document, read by the buffer protocol as a host reads it; empty on failure.
std::string ActionDocument() {
    std::int32_t size = 0;
    if (plugin::GetPluginActionXML(nullptr, &size) != -1 || size < 1)
        return {};
    std::vector<char> buffer(static_cast<std::size_t>(size));
    const std::int32_t length = plugin::GetPluginActionXML(buffer.data(), &size);
    if (length < 0)
        return {};
    return std::string(buffer.data(), static_cast<std::size_t>(length));
}

// The Name of every Action that has one: the actions directly under the root. The Action
// elements under Extended hold no Name.
std::vector<std::string> ActionNames(const std::string& document) {
    const std::string action = "<Action>\r\n<Name>";
    const std::string end = "</Name>";
    std::vector<std::string> names;
    for (std::size_t at = document.find(action); at != std::string::npos;
         at = document.find(action, at)) {
        at += action.size();
        const std::size_t stop = document.find(end, at);
        if (stop == std::string::npos)
            break;
        names.push_back(document.substr(at, stop - at));
    }
    return names;
}

} // namespace

int main() {
    plugin::Startup();
    const std::vector<std::string> names = ActionNames(ActionDocument());
    int status = names.empty() ? 1 : 0;
    for (const std::string& name : names) {
        plugin::TemporaryText text;
        const char* page = plugin::HelpPageName(text, name.c_str());
        if (page == nullptr) {
            status = 1;
            continue;
        }
        std::printf("%s\t%s.htm\n", name.c_str(), page);
    }
    plugin::Teardown();
    if (status != 0)
        std::fprintf(stderr, "help_pages: no action names from the action document\n");
    return status;
}
