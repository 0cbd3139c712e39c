// `ombr gallery` as a batch: the walk, the manifest of the last run, one job
// a texture on the pool (unchanged: taken from the manifest; otherwise
// decoded through the import and its pictures written), then the manifest,
// the page, and the pictures no entry names any more removed.
#include "gallery.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>

#include <map>
#include <new>
#include <set>
#include <utility>

#include "console.h"
#include "picture.h"
#include "encode.h"
#include "export_core.h"
#include "files.h"
#include "inputs.h"
#include "paths.h"
#include "pool.h"
#include "recover.h"
#include "report.h"
#include "run_locks.h"

namespace {

const char kPageName[] = "index.html";
const char kManifestName[] = "gallery.manifest";
const char kPicturesFolder[] = "pictures";
const char kThumbnailSuffix[] = "-128.png";

struct GalleryJob {
    Item item;
    std::string stem;       // its pictures' name below OUT, without the ending
    GalleryEntry entry;
    bool unchanged;         // taken from the manifest
    bool failed;            // not even tried, or its pictures could not be written
    std::string message;    // why it failed
    bool finished;
};

struct Gallery {
    const Options* options;
    std::string out;
    std::map<std::string, GalleryEntry> known;   // the last run's entries by path (read only while jobs run)
    std::vector<GalleryJob> jobs;
    Reporter reporter;
    size_t reported;
    size_t failures;
};

uint64_t HashPath(const std::string& path, uint64_t salt) {
    uint64_t h = 0xcbf29ce484222325ull ^ salt;
    for (unsigned char c : path) h = (h ^ c) * 0x100000001b3ull;
    return h;
}

// Every texture's pictures get a name of their own from its path, the same
// from run to run.
void NamePictures(std::vector<GalleryJob>* jobs) {
    std::set<std::string> taken;
    for (GalleryJob& job : *jobs) {
        uint64_t salt = 0;
        do {
            char name[48];
            snprintf(name, sizeof name, "%s/%016llx", kPicturesFolder,
                     (unsigned long long)HashPath(job.item.path, salt++));
            job.stem = name;
        } while (!taken.insert(job.stem).second);
    }
}

bool SameStamp(const std::string& path, bool found, uint64_t length, int64_t modified) {
    uint64_t l = 0;
    int64_t m = 0;
    const bool now = FileStamp(path.c_str(), &l, &m) == kFileOk;
    return now == found && (!now || (l == length && m == modified));
}

// The last run's entry, when neither the texture nor its palette changed
// and its pictures are there.
bool TakeUnchanged(const Gallery& g, GalleryJob* job) {
    const auto it = g.known.find(job->item.path);
    if (it == g.known.end()) return false;
    const GalleryEntry& old = it->second;
    if (!SameStamp(old.path, true, old.length, old.modified)) return false;
    if (!old.palettePath.empty() &&
        !SameStamp(old.palettePath, old.paletteFound, old.paletteLength, old.paletteModified))
        return false;
    if (old.decoded && (old.picture != job->stem + ".png" || !PathExists(JoinPath(g.out, old.picture).c_str()) ||
                        !PathExists(JoinPath(g.out, old.thumbnail).c_str())))
        return false;
    job->entry = old;
    return true;
}

// Stages and puts in place a texture's pictures (the thumbnail first, when
// there is one): 0, or -1 with the reason.
int WritePictures(const std::string& fullPath, const std::vector<uint8_t>& full,
                  const std::string& thumbPath, const std::vector<uint8_t>& thumb, std::string* reason) {
    StagedFile fullFile = {}, thumbFile = {};
    errno = 0;
    int result = 0;
    if (!thumb.empty() && StageFile(kConverterFiles, nullptr, thumbPath.c_str(), thumb.data(), thumb.size(), &thumbFile) != 0)
        result = -1, *reason = "cannot write " + thumbPath;
    if (result == 0 && StageFile(kConverterFiles, nullptr, fullPath.c_str(), full.data(), full.size(), &fullFile) != 0)
        result = -1, *reason = "cannot write " + fullPath;
    if (result == 0 && CommitPair(kConverterFiles, nullptr, &thumbFile, &fullFile) != 0)
        result = -1, *reason = "cannot put the pictures in place: " + fullPath;
    if (result != 0 && errno) *reason += std::string(": ") + strerror(errno);
    DiscardFile(kConverterFiles, nullptr, &thumbFile);
    DiscardFile(kConverterFiles, nullptr, &fullFile);
    return result;
}

int EncodeToBytes(const PngImage& png, int level, std::vector<uint8_t>* bytes) {
    uint8_t* data = nullptr;
    size_t length = 0;
    if (EncodePngAtLevel(&png, level, &data, &length) != 0) return -1;
    bytes->assign(data, data + length);
    free(data);
    return 0;
}

// The full-size PNG (as `ombr decode` writes it) and, for a picture larger
// than a thumbnail, the thumbnail: 0, or -1 with the reason.
int MakePictures(const Gallery& g, GalleryJob* job, const MemoryHost& host, const TextureCheck& check) {
    GalleryEntry& e = job->entry;
    const int level = g.options->pngLevel;
    std::vector<uint8_t> full, thumb;
    PngImage png;
    int result = HostToPng(&host, &png);
    if (result == 0) {
        TagPicture(job->item.path.c_str(), check, &png);
        result = EncodeToBytes(png, level, &full);
    }
    FreePng(&png);
    e.picture = job->stem + ".png";
    e.thumbnail = e.picture;
    e.thumbWidth = e.width;
    e.thumbHeight = e.height;
    if (result == 0 && (e.width > kThumbnailSide || e.height > kThumbnailSide)) {
        result = MakeThumbnail(&host, &png);
        if (result == 0) result = EncodeToBytes(png, level, &thumb);
        e.thumbnail = job->stem + kThumbnailSuffix;
        e.thumbWidth = png.width;
        e.thumbHeight = png.height;
        FreePng(&png);
    }
    if (result != 0) {
        job->message = "no memory to encode its pictures";
        return -1;
    }
    return WritePictures(JoinPath(g.out, e.picture), full, JoinPath(g.out, e.thumbnail), thumb,
                         &job->message);
}

void Decode(const Gallery& g, GalleryJob* job) {
    GalleryEntry& e = job->entry;
    e = GalleryEntry();
    e.path = job->item.path;
    // Stamped before it is read: a change while it is read shows next time
    // (a stamp that cannot be taken never matches, so it is redone).
    if (FileStamp(e.path.c_str(), &e.length, &e.modified) != kFileOk) e.length = UINT64_MAX, e.modified = -1;
    MemoryHost host;
    ImportOutcome outcome;
    ConvertReport report;
    const int imported = ImportToHost(e.path.c_str(), nullptr, &host, &outcome, &report);
    if (outcome.palette != kPaletteNotNeeded) {
        e.palettePath = outcome.palettePath;
        e.paletteFound = FileStamp(e.palettePath.c_str(), &e.paletteLength, &e.paletteModified) == kFileOk;
    }
    const TextureCheck& check = outcome.check;
    e.container = check.container;
    e.dataType = check.info.dataType;
    e.colorFormat = check.colorFormat;
    e.globalIndex = check.info.globalIndex;
    e.width = check.info.width;
    e.height = check.info.height;
    e.decoded = imported == 0;
    if (imported != 0) e.reason = report.message;
    else if (MakePictures(g, job, host, check) != 0) job->failed = true;
    FreeMemoryHost(&host);
}

uint64_t GalleryNeed(void* context, size_t index) {
    const Gallery* g = static_cast<const Gallery*>(context);
    const GalleryJob& job = g->jobs[index];
    if (!job.item.problem.empty()) return 0;
    // What decode takes, with room for the thumbnail's colours (no raw pixels).
    return DecodeNeed(job.item.path.c_str(), true);
}

void Work(void* context, size_t index) {
    Gallery* g = static_cast<Gallery*>(context);
    GalleryJob& job = g->jobs[index];
    if (!job.item.problem.empty()) {
        job.failed = true;
        job.message = job.item.problem;
        return;
    }
    try {
        job.unchanged = TakeUnchanged(*g, &job);
        if (!job.unchanged) Decode(*g, &job);
    } catch (const std::bad_alloc&) {
        job.failed = true;
        job.message = "no memory";
    }
}

void ReportJob(Gallery* g, GalleryJob* job) {
    Reporter* r = &g->reporter;
    const char* path = job->item.path.c_str();
    if (job->failed) {
        ReportFailure(r, path, job->message.c_str());
        g->failures++;
        return;
    }
    if (!g->options->verbose) return;
    const GalleryEntry& e = job->entry;
    if (job->unchanged) ReportGalleryTexture(r, path, "unchanged", nullptr);
    else if (!e.decoded) ReportGalleryTexture(r, path, "not decoded: ", e.reason.c_str());
    else ReportGalleryTexture(r, path, "-> ", JoinPath(g->out, e.picture).c_str());
}

void Finish(void* context, size_t index) {
    Gallery* g = static_cast<Gallery*>(context);
    g->jobs[index].finished = true;
    g->reporter.done++;
    while (g->reported < g->jobs.size() && g->jobs[g->reported].finished) ReportJob(g, &g->jobs[g->reported++]);
    ShowProgress(&g->reporter, g->jobs[index].item.path.c_str());
}

// A whole file of ours under OUT, put in place when complete: 0, or -1.
int WriteWhole(const std::string& path, const std::string& text, FILE* err) {
    errno = 0;
    const int result = WriteFileSafely(kConverterFiles, nullptr, path.c_str(),
                                       reinterpret_cast<const uint8_t*>(text.data()), text.size());
    if (result != 0) fprintf(err, "ombr: cannot write %s%s%s\n", path.c_str(), errno ? ": " : "", errno ? strerror(errno) : "");
    return result;
}

bool IsPictureName(const std::string& name) {
    if (name.size() < 20) return false;
    for (size_t i = 0; i < 16; i++)
        if (!((name[i] >= '0' && name[i] <= '9') || (name[i] >= 'a' && name[i] <= 'f'))) return false;
    const std::string rest = name.substr(16);
    return rest == ".png" || rest == kThumbnailSuffix;
}

// Removes the pictures of earlier runs that no entry names.
void RemoveStalePictures(const std::string& out, const std::vector<GalleryEntry>& entries) {
    std::set<std::string> named;
    for (const GalleryEntry& e : entries)
        if (e.decoded) named.insert(e.picture), named.insert(e.thumbnail);
    std::vector<FolderEntry> files;
    if (ListFolder(JoinPath(out, kPicturesFolder).c_str(), &files) != 0) return;
    for (const FolderEntry& f : files) {
        const std::string name = std::string(kPicturesFolder) + "/" + f.name;
        if (!f.folder && IsPictureName(f.name) && !named.count(name))
            kConverterFiles.RemoveFile(nullptr, JoinPath(out, name).c_str());
    }
}

// The last run's manifest, unless --force; refuses a folder that holds a
// page of someone else's.
int LoadManifest(Gallery* g, FILE* err) {
    const std::string manifest = JoinPath(g->out, kManifestName);
    const std::string page = JoinPath(g->out, kPageName);
    if (!PathExists(manifest.c_str())) {
        if (PathExists(page.c_str()) && !g->options->force) {
            fprintf(err, "ombr: %s exists and is no gallery of ombr's (use --force to replace it)\n", page.c_str());
            return -1;
        }
        return 0;
    }
    if (g->options->force) return 0;
    uint8_t* data = nullptr;
    size_t length = 0;
    if (ReadWholeFile(manifest.c_str(), &data, &length) != kFileOk) return 0;   // everything is redone
    for (GalleryEntry& e : ReadGalleryManifest(reinterpret_cast<const char*>(data), length))
        g->known[e.path] = std::move(e);
    free(data);
    return 0;
}

int MakeGallery(const Options& o, Gallery* gallery, FILE* out, FILE* err);

}  // namespace

int RunGallery(const Options& o, FILE* out, FILE* err) {
    Gallery g;
    g.options = &o;
    g.out = o.output;
    g.reported = 0;
    g.failures = 0;
    if (MakeDirectories(JoinPath(g.out, kPicturesFolder).c_str()) != 0) {
        fprintf(err, "ombr: cannot create the folder %s\n", JoinPath(g.out, kPicturesFolder).c_str());
        return kExitFailed;
    }
    // Held against other runs, and cleared of what a run killed there left.
    if (GuardFolders({g.out, JoinPath(g.out, kPicturesFolder)}, !o.noWait, err) != 0) return kExitFailed;
    const int status = MakeGallery(o, &g, out, err);
    LetGoFolders();
    return status;
}

namespace {

int MakeGallery(const Options& o, Gallery* gallery, FILE* out, FILE* err) {
    Gallery& g = *gallery;
    if (LoadManifest(&g, err) != 0) return kExitFailed;
    bool anyFolder;
    std::vector<Item> items = CollectInputs(o, &anyFolder);
    g.jobs.resize(items.size());
    for (size_t i = 0; i < items.size(); i++) {
        g.jobs[i].item = std::move(items[i]);
        g.jobs[i].unchanged = g.jobs[i].failed = g.jobs[i].finished = false;
    }
    NamePictures(&g.jobs);
    InitReporter(&g.reporter, out, err, false, !o.quiet && g.jobs.size() > 1 && IsTerminal(err), g.jobs.size());
    ShowProgress(&g.reporter, "");
    // Under the batch's memory budget, as decode: a texture's share is told
    // from its header (its PNG and thumbnail besides what decode takes).
    const PoolGuard guard = {nullptr, BatchMemoryBudget(), GalleryNeed};
    RunPool(g.jobs.size(), o.jobs, Work, Finish, &g, &guard);
    ClearProgress(&g.reporter);

    std::vector<GalleryEntry> entries;
    size_t redone = 0, notDecoded = 0;
    for (const GalleryJob& job : g.jobs) {
        if (job.failed) continue;
        entries.push_back(job.entry);
        if (!job.unchanged) redone++;
        if (!job.entry.decoded) notDecoded++;
    }
    const std::string page = JoinPath(g.out, kPageName);
    int status = g.failures ? kExitFailed : kExitOk;
    if (WriteWhole(JoinPath(g.out, kManifestName), WriteGalleryManifest(entries), err) != 0 ||
        WriteWhole(page, GalleryPage(entries), err) != 0)
        status = kExitFailed;
    else
        RemoveStalePictures(g.out, entries);
    if (!o.quiet) ReportGallerySummary(&g.reporter, entries.size(), redone, notDecoded, g.failures, page.c_str());
    return status;
}

}  // namespace
