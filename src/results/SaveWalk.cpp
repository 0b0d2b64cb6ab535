#include "results/SaveWalk.h"

#include <cstdio>

namespace ondrel {

namespace {
const char* reasonText(WriteResult r) {
    switch (r) {
    case WriteResult::CreateFailed: return "the file could not be created";
    case WriteResult::ReadFailed: return "part of its data could not be read from the image";
    case WriteResult::WriteFailed: return "writing failed (is the disk full?)";
    case WriteResult::NotAFile: return "not a file";
    case WriteResult::NoData: return "no data";
    case WriteResult::Written: break;
    }
    return "";
}
}  // namespace

namespace {
// Trees rebuilt from damaged volumes can nest without end; host paths cannot.
constexpr int kMaxDepth = 1024;
}  // namespace

std::int64_t SaveWalk::countFiles(EntryId folder) const { return countFiles(folder, 0); }

std::int64_t SaveWalk::countFiles(EntryId folder, int depth) const {
    std::int64_t n = 0;
    if (depth > kMaxDepth) return n;
    for (EntryId c : adapter_.children(folder)) {
        if (adapter_.isFolder(c)) {
            if (adapter_.descendInto(c)) n += countFiles(c, depth + 1);
        } else {
            ++n;
        }
    }
    return n;
}

void SaveWalk::saveOne(EntryId file, const std::string& folder, SaveOutcome& out) {
    if (adapter_.countedButSkipped(file) || (liveOnly && adapter_.isDeleted(file))) {
        ++out.skipped;
        return;
    }
    std::string name = names_.claim(folder, sanitizeName(adapter_.name(file)));
    std::string path = joinPath(folder, name);
    observer_.status("saving File  " + path);
    observer_.detail("File size: " + adapter_.sizeText(file));
    WriteResult r = adapter_.writeFile(file, path);
    observer_.detail("");
    if (r == WriteResult::Written) {
        ++out.saved;
    } else {
        ++out.failed;
        out.failures.push_back(path + ": " + reasonText(r));
    }
}

void SaveWalk::walk(EntryId folder, const std::string& path, SaveOutcome& out, int depth) {
    if (depth > kMaxDepth) {
        out.failures.push_back(path + ": folders nested too deep; the rest of this branch was not saved");
        return;
    }
    for (EntryId c : adapter_.children(folder)) {
        if (control_.poll()) {
            out.stopped = true;
            return;
        }
        observer_.progressPosition(out.saved + out.failed + out.skipped);
        if (adapter_.isFolder(c)) {
            if (!adapter_.descendInto(c)) continue;
            if (liveOnly && adapter_.isDeleted(c)) {
                out.skipped += countFiles(c);
                continue;
            }
            std::string name = adapter_.name(c);
            std::string sub = path;
            if (!name.empty()) {
                sub = joinPath(path, names_.claim(path, sanitizeName(name)));
                if (!makeFolder(sub)) {
                    std::int64_t lost = countFiles(c);
                    out.failed += lost;
                    out.failures.push_back(sub + ": the folder could not be created");
                    continue;
                }
            }
            walk(c, sub, out, depth + 1);
        } else {
            saveOne(c, path, out);
        }
    }
}

void SaveWalk::finish(const SaveOutcome& out) {
    if (out.failed == 0) {
        observer_.message("work done");
        return;
    }
    std::string text = "work done, but " + std::to_string(out.failed) + " of " +
                       std::to_string(out.saved + out.failed) + " files could not be saved:";
    std::size_t shown = 0;
    for (const auto& f : out.failures) {
        if (++shown > 10) {
            text += "\n...";
            break;
        }
        text += "\n" + f;
    }
    observer_.message(text);
}

SaveOutcome SaveWalk::saveFolder(EntryId folder, const std::string& outputFolder) {
    SaveOutcome out;
    if (outputFolder.empty()) {
        observer_.message("Please select valid output folder");
        return out;
    }
    if (folder == kNoEntry || !adapter_.isFolder(folder)) return out;
    out.counted = countFiles(folder);
    observer_.progressRange(0, out.counted);
    char question[200];
    std::snprintf(question, sizeof question, "%s of files found inside this folder = %lld .Do you want to continue dumping these files..?",
                  adapter_.capitalisedSaveQuestion() ? "Number" : "number", static_cast<long long>(out.counted));
    if (askFirst && !observer_.question(question)) return out;
    out.started = true;
    control_.reset();
    names_ = UniqueNames{};
    if (!makeFolder(outputFolder)) {
        out.failed = out.counted;
        out.failures.push_back(outputFolder + ": the output folder could not be created");
    } else {
        walk(folder, outputFolder, out, 0);
    }
    observer_.progressPosition(out.counted);
    finish(out);
    return out;
}

SaveOutcome SaveWalk::saveFile(EntryId file, const std::string& outputFolder) {
    SaveOutcome out;
    if (outputFolder.empty()) {
        observer_.message("Please select valid output folder");
        return out;
    }
    out.started = true;
    out.counted = 1;
    names_ = UniqueNames{};
    if (makeFolder(outputFolder)) saveOne(file, outputFolder, out);
    else {
        ++out.failed;
        out.failures.push_back(outputFolder + ": the output folder could not be created");
    }
    return out;
}

}  // namespace ondrel
