#pragma once
// One Ondrel per user and desktop: a lock file in the runtime folder stands in
// for a named mutex. The lock goes with the process, also when it crashes.
#include <QLockFile>
#include <QString>

#include <memory>

namespace ondrel::ui {

class SingleInstance {
public:
    // name: the lock's name; the product uses the default.
    explicit SingleInstance(const QString& name = QStringLiteral("ONDREL"));
    // False when another instance holds the lock.
    bool acquired() const { return acquired_; }

private:
    std::unique_ptr<QLockFile> lock_;
    bool acquired_ = false;
};

inline constexpr const char* kAnotherInstanceText = "Another instance of application is already running";

}  // namespace ondrel::ui
