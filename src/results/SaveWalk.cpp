#include "results/SaveWalk.h"

#include "results/TreeWalk.h"

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

std::int64_t SaveWalk::countFiles(EntryId folder) const { return ondrel::countFiles(adapter_, folder); }

void SaveWalk::saveOne(EntryId file, const std::string& folder, SaveOutcome& out) {
    if (adapter_.countedButSkipped(file) || (liveOnly && adapter_.isDeleted(file))) {
        ++out.skipped;
        return;
    }
    std::string name = names_.claim(folder, sanitizeName(adapter_.name(file)));
    std::string path = joinPath(folder, name);
    observer_.status("saving File  " + path);
    observer_.detail("File size: " + adapter_.saveSizeText(file));
    WriteResult r = adapter_.writeFile(file, path);
    observer_.detail("");
    if (r == WriteResult::Written) {
        ++out.saved;
    } else {
        ++out.failed;
        std::string reason = adapter_.writeFailureText(file, r);
        out.failures.push_back(path + ": " + (reason.empty() ? reasonText(r) : reason));
    }
}

void SaveWalk::walk(EntryId folder, const std::string& path, SaveOutcome& out) {
    std::vector<std::string> paths{path};  // paths[d - 1]: the host folder of the entries at depth d
    TreeVisitor save;
    save.onEntry = [&](EntryId c, int depth) {
        if (control_.poll()) {
            out.stopped = true;
            return Visit::Stop;
        }
        observer_.progressPosition(out.saved + out.failed + out.skipped);
        const std::string here = paths[static_cast<std::size_t>(depth - 1)];
        if (!adapter_.isFolder(c)) {
            saveOne(c, here, out);
            return Visit::Skip;
        }
        if (!adapter_.descendInto(c)) return Visit::Skip;
        if (liveOnly && adapter_.isDeleted(c)) {
            out.skipped += countFiles(c);
            return Visit::Skip;
        }
        std::string name = adapter_.name(c);
        std::string sub = here;
        if (!name.empty()) {
            sub = joinPath(here, names_.claim(here, sanitizeName(name)));
            if (!makeFolder(sub)) {
                out.failed += countFiles(c);
                out.failures.push_back(sub + ": the folder could not be created");
                return Visit::Skip;
            }
        }
        paths.resize(static_cast<std::size_t>(depth));
        paths.push_back(sub);
        return Visit::Enter;
    };
    save.onTooDeep = [&](EntryId, int depth) {
        out.failures.push_back(paths[static_cast<std::size_t>(depth)] +
                               ": folders nested too deep; the rest of this branch was not saved");
    };
    walkTree(adapter_, folder, save);
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
        walk(folder, outputFolder, out);
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
