#include "VessoraCore/Configuration/Configuration.hpp"

#include "VessoraCore/Foundation/PrivateFile.hpp"

#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace vessora::Configuration {

namespace {

std::string replacingAll(std::string text, std::string_view from, std::string_view to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

} // namespace

const std::string& welcomePage() {
    static const std::string page =
        "<!doctype html><html lang=\"en\"><meta charset=\"utf-8\"><meta name=\"viewport\" "
        "content=\"width=device-width\">\n"
        "<title>Vessora · It works</title><style>\n"
        "body{background:#101917;color:#e9f2ed;font:17px "
        "-apple-system,sans-serif;max-width:740px;margin:12vh auto;padding:32px}\n"
        "small{color:#89c7ad;letter-spacing:.2em}h1{font-size:64px;letter-spacing:-3px;margin:24px "
        "0}p{color:#aac0b5;line-height:1.7}\n"
        "pre{background:#1b2b24;border:1px solid "
        "#30473c;border-radius:16px;padding:24px;line-height:1.7;overflow:auto}\n"
        "</style><small>VESSORA / LOCAL DEVELOPMENT</small><h1>Your stack is running.</h1>\n"
        "<p>Your web server, PHP, and MariaDB are connected. This project has its own processes, "
        "ports, and data.</p>\n"
        "<pre id=\"status\">Checking connection…</pre>\n"
        "<script>const box = document.getElementById('status');\n"
        "fetch('/__vessora_health.php').then(r => r.json()).then(d => {delete d.token; "
        "box.textContent = JSON.stringify(d,null,2)})\n"
        ".catch(()=>{box.textContent = 'Could not load the server status.'});</script></html>";
    return page;
}

const std::vector<std::string>& legacyWelcomePages() {
    static const std::vector<std::string> pages = [] {
        std::string german = welcomePage();
        german = replacingAll(german, "<html lang=\"en\">", "<html lang=\"de\">");
        german = replacingAll(german, "Your stack is running.", "Dein Stack läuft.");
        german = replacingAll(german,
                              "Your web server, PHP, and MariaDB are connected. This project has "
                              "its own processes, ports, and data.",
                              "Webserver, PHP und MariaDB arbeiten zusammen. Dieses Projekt hat "
                              "eigene Prozesse, Ports und Daten.");
        german = replacingAll(german, "Checking connection…", "Verbindung wird geprüft …");
        german = replacingAll(german, "Could not load the server status.",
                              "Status konnte nicht geladen werden.");
        std::string nginxVariant = replacingAll(german, "Webserver, PHP", "nginx, PHP");
        return std::vector<std::string>{german, nginxVariant};
    }();
    return pages;
}

void ensureWelcomePage(const std::filesystem::path& page) {
    // Anything but an absent file or an untouched earlier page belongs to the
    // user (or is a link we must not follow): every doubt leaves it alone.
    struct stat own {};
    bool attributesRead = ::lstat(page.c_str(), &own) == 0;
    if (attributesRead && S_ISLNK(own.st_mode))
        return;
    std::error_code error;
    if (std::filesystem::exists(page, error)) {
        if (!attributesRead || !S_ISREG(own.st_mode))
            return;
        std::string text;
        try {
            text = PrivateFile::read(page);
        } catch (const std::exception&) {
            return;
        }
        // Text that is not UTF-8 cannot equal a legacy page either.
        const auto& legacy = legacyWelcomePages();
        if (std::find(legacy.begin(), legacy.end(), text) == legacy.end())
            return;
    }
    PrivateFile::writeKeepingMode(page, welcomePage());
}

} // namespace vessora::Configuration
