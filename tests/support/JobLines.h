// Pages the job tests serve and the summary line that ends a page scan.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "support/NetFixtures.h"

inline std::string Page(const std::string& body)
{
    return "<html><head><title>t</title></head><body>\n" + body + "\n</body></html>\n";
}

// The summary line that ends a page scan.
inline std::string Done(int pages, int images)
{
    return "Done! (" + std::to_string(pages) + " html files and " + std::to_string(images) +
           " image files found...)...";
}

// The follow question for a link into dir found on page.
inline std::string Question(const std::string& dir, const std::string& page)
{
    return "Soll der Link zu \"" + dir + "\" weiterverfolgt werden?\n(gefunden auf " + page + ")";
}

// The line that starts file i of n.
inline std::string Loading(int i, int n, const std::string& name)
{
    return "Lade Datei " + std::to_string(i) + " von " + std::to_string(n) + " herunter (" + name + ")...";
}

// The names in a folder, in the order the folder lists them.
inline std::vector<std::string> FilesIn(const std::string& dir)
{
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(dir))
        names.push_back(e.path().filename().string());
    return names;
}

// The directory test's site on nginx (h: its address without a path): one
// link inside the start folder, absolute and root links into /b/.
inline void WriteDirectorySite(const wltest::TNginx& nginx, const std::string& h)
{
    nginx.WriteDoc("a/index.html", Page("<a href=\"sub/p.html\">1</a>\n"
                                        "<a href=\"" + h + "/b/q.html\">2</a>\n"
                                        "<a href=\"/b/p.html\">3</a>\n"
                                        "<a href=\"" + h + "/b/s.html\">4</a>\n"
                                        "<a href=\"/b/r.html\">5</a>"));
    for (const char* leaf : {"a/sub/p.html", "b/p.html", "b/q.html", "b/r.html", "b/s.html"})
        nginx.WriteDoc(leaf, Page("leaf"));
}
