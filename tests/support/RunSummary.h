#pragma once

#include <string>

// Takes the summary line that orvelle-harvest ends its standard error with
// ("Finished: ...", "Stopped after ...", "No page could be downloaded: ...") off
// err and returns it; empty when there is none.
inline std::string TakeSummary(std::string& err) {
    std::string body = err;
    if (!body.empty() && body.back() == '\n')
        body.pop_back();
    const size_t start = body.rfind('\n') == std::string::npos ? 0 : body.rfind('\n') + 1;
    const std::string line = body.substr(start);
    for (const char* prefix : {"Finished: ", "Stopped after ", "No page could be downloaded: "}) {
        if (line.rfind(prefix, 0) == 0) {
            err.erase(start);
            return line;
        }
    }
    return {};
}
