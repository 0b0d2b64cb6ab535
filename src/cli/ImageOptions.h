#pragma once
// The options every image command shares, and opening the image with them.
#include "diskimage/ImageKind.h"

#include <CLI/CLI.hpp>
#include <memory>
#include <string>

namespace ondrel::cli {

// Exit statuses: 0 success, 1 a failure the user must see, 2 bad arguments.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;

struct ImageOptions {
    std::string image;                // the first image given
    std::vector<std::string> images;  // every image given: further disks of the same machine follow the first
    std::string type = "auto";
    std::uint64_t sizeMb = 0;
    std::uint64_t tableEntries = 0;
    std::string snapshot;  // a qcow2 internal snapshot to read instead of the current state
    std::vector<std::string> allowedParents;  // files outside the image's folder it may name
    bool verbose = false;

    void addTo(CLI::App& command, bool withOverrides);
    // A positional argument after the images (OUTPUT_FOLDER, REGEX): the
    // parser gives every positional to the images, so the last is taken back.
    void addTrailing(CLI::App& command, const std::string& name, std::string& target, const std::string& description);

    // Opens the image; on failure prints why and returns null. Warnings about
    // damage are printed and remembered so the command can exit with 1.
    std::shared_ptr<readWriteInterface> open(ImageKind& kind);
    // The further images (all but the first), each opened as the first is
    // (without its size corrections and snapshot); empty when one fails.
    bool openFurther(std::vector<std::shared_ptr<readWriteInterface>>& out);
    bool hadWarnings = false;

private:
    std::shared_ptr<readWriteInterface> openOne(const std::string& path, bool first, ImageKind& kind);
    std::string* trailing_ = nullptr;
    std::string trailingName_;
};

void printError(const std::string& text);

}  // namespace ondrel::cli
