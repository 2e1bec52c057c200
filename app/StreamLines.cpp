#include "app/StreamLines.h"

#include <cstring>

void StreamToLines(TLineList& Lines, std::string_view Data)
{
    const char* p = Data.data();
    const char* const end = p + Data.size();
    Lines.Reserve(Data.size(), 0);
    while (p < end) {
        const char* q = p;
        // Bytes above CR are never a break or NUL; test the common case first.
        while (q < end && (static_cast<unsigned char>(*q) > 13 || (*q != '\r' && *q != '\n' && *q != '\0')))
            ++q;
        const char* lineEnd = q;
        if (q < end && *q == '\0') {
            // The text stops at the NUL; the line itself runs on to the break.
            while (q < end && *q != '\r' && *q != '\n')
                ++q;
        }
        Lines.Add(std::string_view(p, static_cast<std::size_t>(lineEnd - p)));
        if (q < end) {
            if (*q == '\r' && q + 1 < end && q[1] == '\n')
                ++q;
            ++q;
        }
        p = q;
    }
}
