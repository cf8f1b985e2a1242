// Toolkit-free helpers of the widget interfaces.
#include "app/Widgets.h"

#include <algorithm>
#include <chrono>
#include <iterator>
#include <ctime>

namespace app {

std::vector<std::string> IMemo::SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            continue; // the "\n" ends the line
        }
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(c);
        }
    }
    // The part after the last break is a line too: a text ending in a line
    // break leaves an empty line after it, and the empty text is one empty
    // line.
    lines.push_back(line);
    return lines;
}

void IMemo::AppendBatch(const std::vector<std::string>& texts) {
    const auto hasBreak = [](const std::string& text) {
        return text.find('\n') != std::string::npos;
    };
    // The server's lines hold no line break: they go as they are.
    if (std::none_of(texts.begin(), texts.end(), hasBreak)) {
        AppendLines(texts);
        return;
    }
    std::vector<std::string> lines;
    lines.reserve(texts.size());
    for (const std::string& text : texts) {
        std::vector<std::string> parts = SplitLines(text);
        lines.insert(lines.end(), std::make_move_iterator(parts.begin()),
                     std::make_move_iterator(parts.end()));
    }
    AppendLines(lines);
}

TDateTime SystemNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const std::time_t seconds = system_clock::to_time_t(now);
    std::tm local{};
    localtime_r(&seconds, &local);
    TDateTime result;
    result.Year = local.tm_year + 1900;
    result.Month = local.tm_mon + 1;
    result.Day = local.tm_mday;
    result.Hour = local.tm_hour;
    result.Minute = local.tm_min;
    result.Second = local.tm_sec;
    result.Millisecond =
        static_cast<int>(duration_cast<milliseconds>(now.time_since_epoch()).count() % 1000);
    return result;
}

} // namespace app
