#pragma once
#include "common/ScanObserver.h"

#include <string>
#include <vector>

namespace ondrel::test {

// Keeps every report, so tests can check the texts the user would see.
class RecordingObserver : public ScanObserver {
public:
    void status(const std::string& text) override { statuses.push_back(text); }
    void progressRange(std::int64_t low, std::int64_t high) override {
        rangeLow = low;
        rangeHigh = high;
    }
    void progressPosition(std::int64_t position) override { positions.push_back(position); }
    void message(const std::string& text) override { messages.push_back(text); }

    bool saw(const std::string& text) const {
        for (const auto& s : statuses)
            if (s == text) return true;
        return false;
    }

    std::vector<std::string> statuses;
    std::vector<std::string> messages;
    std::vector<std::int64_t> positions;
    std::int64_t rangeLow = 0, rangeHigh = 0;
};

}  // namespace ondrel::test
