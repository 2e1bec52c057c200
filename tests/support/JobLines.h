// Pages the job tests serve and the summary line that ends a page scan.
#pragma once

#include <string>

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
