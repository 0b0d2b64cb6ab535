#include "results/SaveWalk.h"

#include "results/TreeWalk.h"

#include <cerrno>
#include <cstdio>

namespace ondrel {

namespace {
// Names tried beside one that is taken on the host before giving up.
constexpr int kNameTries = 1000;

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

void SaveWalk::saveOne(EntryId file, const Place& folder, SaveOutcome& out) {
    if (adapter_.countedButSkipped(file) || (liveOnly && adapter_.isDeleted(file))) {
        ++out.skipped;
        return;
    }
    // Created here, exclusively and beside whatever already has the name; the
    // adapter then writes into this very file.
    std::string base = sanitizeName(adapter_.name(file));
    if (base != adapter_.name(file)) ++out.renamed;
    std::string name;
    OutputFile target;
    for (int tries = 0; tries < kNameTries; ++tries) {
        name = names_.claim(folder.path, base);
        if (target.createIn(output_, folder.at, name) || target.errorCode() != EEXIST) break;
    }
    std::string path = joinPath(folder.path, name);
    observer_.status("saving File  " + path);
    observer_.detail("File size: " + adapter_.saveSizeText(file));
    WriteResult r = WriteResult::CreateFailed;
    bool created = target.isOpen();
    if (created) {
        r = adapter_.writeInto(file, target);
        // The adapter made nothing of it: no empty file stays behind.
        if (r == WriteResult::NotAFile || r == WriteResult::CreateFailed || r == WriteResult::NoData) {
            target.close();
            output_.removeFile(folder.at, name);
        }
    }
    observer_.detail("");
    if (r == WriteResult::Written) {
        ++out.saved;
        out.lastSaved = path;
    } else {
        ++out.failed;
        std::string reason = adapter_.writeFailureText(file, r);
        if (reason.empty()) reason = reasonText(r);
        if (!created) reason += " (" + target.errorText() + ")";
        out.failures.push_back(path + ": " + reason);
    }
}

void SaveWalk::walk(EntryId folder, const std::string& path, SaveOutcome& out) {
    std::vector<Place> paths{{path, ""}};  // paths[d - 1]: the host folder of the entries at depth d
    TreeVisitor save;
    save.onEntry = [&](EntryId c, int depth) {
        if (control_.poll() || (also_ && also_->poll())) {
            out.stopped = true;
            return Visit::Stop;
        }
        observer_.progressPosition(out.saved + out.failed + out.skipped);
        const Place here = paths[static_cast<std::size_t>(depth - 1)];
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
        Place sub = here;
        if (!name.empty()) {
            // A real folder of that name is filled; a file or a link there is left alone.
            std::string base = sanitizeName(name), chosen;
            if (base != name) ++out.renamed;
            OutputFolder::Made made = OutputFolder::Made::NameTaken;
            for (int tries = 0; tries < kNameTries && made == OutputFolder::Made::NameTaken; ++tries) {
                chosen = names_.claim(here.path, base);
                made = output_.makeSubfolder(here.at, chosen);
            }
            sub = {joinPath(here.path, chosen), here.at.empty() ? chosen : here.at + "/" + chosen};
            if (made != OutputFolder::Made::New && made != OutputFolder::Made::Existing) {
                out.failed += countFiles(c);
                out.failures.push_back(sub.path + ": the folder could not be created (" + output_.errorText() + ")");
                return Visit::Skip;
            }
        }
        paths.resize(static_cast<std::size_t>(depth));
        paths.push_back(sub);
        return Visit::Enter;
    };
    save.onTooDeep = [&](EntryId, int depth) {
        out.failures.push_back(paths[static_cast<std::size_t>(depth)].path +
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
    if (!output_.open(outputFolder)) {
        out.failed = out.counted;
        out.failures.push_back(outputFolder + ": the output folder could not be created");
    } else {
        walk(folder, outputFolder, out);
    }
    output_.close();
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
    if (output_.open(outputFolder)) {
        saveOne(file, {outputFolder, ""}, out);
    } else {
        ++out.failed;
        out.failures.push_back(outputFolder + ": the output folder could not be created");
    }
    output_.close();
    return out;
}

}  // namespace ondrel
