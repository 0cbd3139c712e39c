#include "commands.h"

#include <string.h>

#include <new>

#include <string>
#include <utility>
#include <vector>

#include "console.h"
#include "convert.h"
#include "files.h"
#include "gallery.h"
#include "inputs.h"
#include "messages.h"
#include "outputs.h"
#include "paths.h"
#include "pool.h"
#include "recover.h"
#include "report.h"
#include "run_locks.h"
#include "threads.h"

namespace {

// A batch: every input a job, run on o.jobs threads, reported in input order
// whatever order they finish in.
struct Batch {
    const Options* options;
    std::vector<Job> jobs;
    Reporter reporter;
    size_t reported;          // jobs whose messages are out, a prefix of `jobs`
    size_t converted;
    size_t replaced[kReplacedChanged + 1];   // encode: converted by kReplaced... state
    std::vector<std::string> failures;
};

void SetUpBatch(Batch* batch, const Options& o, std::vector<Item>* items) {
    batch->options = &o;
    batch->jobs.resize(items->size());
    for (size_t i = 0; i < items->size(); i++) {
        Job& job = batch->jobs[i];
        job.item = std::move((*items)[i]);
        job.pickName = false;
        ClearReport(&job.report);
        memset(&job.encoded, 0, sizeof job.encoded);
        memset(&job.texture, 0, sizeof job.texture);
        memset(&job.picture, 0, sizeof job.picture);
        job.isPicture = false;
        job.failed = false;
        job.finished = false;
    }
    batch->reported = 0;
    batch->converted = 0;
    memset(batch->replaced, 0, sizeof batch->replaced);
}

// Marks a job finished and reports every finished job that is next in order.
void FinishInOrder(Batch* batch, size_t index, void (*report)(Batch*, Job*)) {
    batch->jobs[index].finished = true;
    batch->reporter.done++;
    while (batch->reported < batch->jobs.size() && batch->jobs[batch->reported].finished)
        report(batch, &batch->jobs[batch->reported++]);
    ShowProgress(&batch->reporter, batch->jobs[index].item.path.c_str());
}

// ---- info

void InspectWork(void* context, size_t index) {
    Batch* batch = static_cast<Batch*>(context);
    Job& job = batch->jobs[index];
    if (!job.item.problem.empty()) {
        job.failed = true;
        return;
    }
    const char* path = job.item.path.c_str();
    job.isPicture = EndsWithNoCase(job.item.path, ".png");
    if (job.isPicture) {
        const Options& o = *batch->options;
        const std::string stem = o.outDir ? JoinPath(o.outDir, job.item.relative) : job.item.path;
        const EncodeJob plan = {path, stem.c_str(), true, o.container, o.choice, o.palette, o.unmapped, true, true};
        InspectPicture(plan, &job.picture);
        job.failed = job.picture.readResult != 0;
        return;
    }
    TextureSummary& summary = job.texture;
    InspectTexture(path, &summary);
    job.failed = summary.readResult != kFileOk || summary.checkResult != kTextureOk || !summary.decodable;
}

void ReportInspected(Batch* batch, Job* job) {
    const char* path = job->item.path.c_str();
    if (!job->item.problem.empty()) ReportInfoProblem(&batch->reporter, path, job->item.problem.c_str());
    else if (job->isPicture) ReportPictureInfo(&batch->reporter, path, job->picture);
    else ReportTextureInfo(&batch->reporter, path, job->texture);
    if (job->failed) batch->failures.push_back(job->item.path);
}

void InspectFinish(void* context, size_t index) {
    FinishInOrder(static_cast<Batch*>(context), index, ReportInspected);
}

// A job's memory, told from its file's header (info reads no more than decode
// or encode would).
uint64_t JobNeed(void* context, size_t index) {
    const Batch* batch = static_cast<const Batch*>(context);
    const Job& job = batch->jobs[index];
    if (!job.item.problem.empty()) return 0;
    const char* path = job.item.path.c_str();
    if (batch->options->command == kCommandEncode || EndsWithNoCase(job.item.path, ".png")) return EncodeNeed(path);
    return DecodeNeed(path, batch->options->raw != nullptr);
}

int RunInfo(const Options& o, FILE* out, FILE* err) {
    bool anyFolder;
    std::vector<Item> items = CollectInputs(o, &anyFolder);
    Batch batch;
    SetUpBatch(&batch, o, &items);
    InitReporter(&batch.reporter, out, err, o.json, false, batch.jobs.size());
    BeginInfo(&batch.reporter);
    const PoolGuard guard = {nullptr, BatchMemoryBudget(), JobNeed};
    RunPool(batch.jobs.size(), o.jobs, InspectWork, InspectFinish, &batch, &guard);
    EndInfo(&batch.reporter);
    return batch.failures.empty() ? kExitOk : kExitFailed;
}

// ---- decode and encode

// One file, on any thread: it touches only its own job.
void ConvertFile(void* context, size_t index) {
    const Batch* batch = static_cast<Batch*>(context);
    const Options& o = *batch->options;
    Job& job = static_cast<Batch*>(context)->jobs[index];
    if (!job.item.problem.empty()) {
        job.failed = true;
        return;
    }
    int result;
    if (o.command == kCommandDecode) {
        const DecodeJob decode = {job.item.path.c_str(), job.output.c_str(), o.raw, o.palette, o.force, o.pngLevel};
        result = DecodeTextureFile(decode, &job.report);
    } else {
        const EncodeJob encode = {job.item.path.c_str(), job.output.c_str(), job.pickName, o.container,
                                  o.choice,              o.palette,          o.unmapped,   o.force,
                                  o.dryRun};
        result = EncodeImageFile(encode, &job.encoded, &job.report);
    }
    if (result != 0) {
        job.item.problem = job.report.message;
        job.failed = true;
    }
}

// A job that finds no memory (its names, say) fails alone; the batch goes on.
void ConvertWork(void* context, size_t index) {
    try {
        ConvertFile(context, index);
    } catch (const std::bad_alloc&) {
        Job& job = static_cast<Batch*>(context)->jobs[index];
        snprintf(job.report.message, sizeof job.report.message, "no memory");
        job.failed = true;
    }
}

void ReportConverted(Batch* batch, Job* job) {
    Reporter* r = &batch->reporter;
    const char* path = job->item.path.c_str();
    ReportWarnings(r, path, job->report.warning);
    if (job->failed) {
        ReportFailure(r, path, job->item.problem.empty() ? job->report.message : job->item.problem.c_str());
        batch->failures.push_back(job->item.path);
        return;
    }
    batch->converted++;
    const bool encode = batch->options->command == kCommandEncode;
    const int state = job->encoded.replacedState;
    if (encode && state >= 0 && state <= kReplacedChanged) batch->replaced[state]++;
    // A texture that changed, and every plan of a dry run, has its line.
    const bool tell = encode && !batch->options->quiet && (state == kReplacedChanged || batch->options->dryRun);
    if (!batch->options->verbose && !tell) return;
    if (batch->options->command == kCommandDecode) ReportDecoded(r, path, job->output.c_str());
    else ReportEncoded(r, path, job->encoded);
}

void ConvertFinish(void* context, size_t index) {
    FinishInOrder(static_cast<Batch*>(context), index, ReportConverted);
}

int RunConvert(const Options& o, FILE* out, FILE* err) {
    bool anyFolder;
    std::vector<Item> items = CollectInputs(o, &anyFolder);
    if ((o.output || o.raw) && (items.size() > 1 || anyFolder)) {
        Say(err, Text(kTextSingleInput), o.output ? "-o" : "--raw");
        return kExitUsage;
    }
    if (o.outDir && MakeDirectories(o.outDir) != 0) {
        Say(err, Text(kTextCannotCreateFolder), o.outDir);
        return kExitFailed;
    }
    Batch batch;
    SetUpBatch(&batch, o, &items);
    InitReporter(&batch.reporter, out, err, false, !o.quiet && batch.jobs.size() > 1 && IsTerminal(err),
                 batch.jobs.size());
    PlanOutputs(o, &batch.jobs);
    if (GuardFolders(OutputFolders(o, batch.jobs), !o.noWait, err) != 0) return kExitFailed;
    ShowProgress(&batch.reporter, "");
    // An interruption stops the batch between files: what runs finishes,
    // its staged files gone, and the summary tells how far it came.
    CatchInterruptions(kExitInterrupted);
    const PoolGuard guard = {Interrupted, BatchMemoryBudget(), JobNeed};
    RunPool(batch.jobs.size(), o.jobs, ConvertWork, ConvertFinish, &batch, &guard);
    const bool interrupted = Interrupted();
    // Jobs that finished after one that never started.
    for (size_t i = batch.reported; i < batch.jobs.size(); i++)
        if (batch.jobs[i].finished) ReportConverted(&batch, &batch.jobs[i]);
    ClearProgress(&batch.reporter);
    if (!o.quiet || interrupted)
        ReportSummary(&batch.reporter, o.command == kCommandDecode ? "decode" : "encode", batch.converted,
                      batch.failures.size(), interrupted, o.command == kCommandEncode ? batch.replaced : nullptr,
                      o.dryRun);
    if (batch.failures.size() > 0 && batch.jobs.size() > 1)
        ReportFailedFiles(&batch.reporter, batch.failures.data(), batch.failures.size());
    fflush(out);
    fflush(err);
    ReleaseInterruptions();
    LetGoFolders();
    if (interrupted) return kExitInterrupted;
    return batch.failures.empty() ? kExitOk : kExitFailed;
}

// ---- files and folders dropped on ombr.exe (named without a command)

// The folder of PNGs that a dropped folder of textures becomes: FOLDER-png.
const char kPngFolderSuffix[] = "-png";

bool IsCommandWord(const char* word) {
    for (const char* command : {"info", "decode", "encode", "gallery", "palette", "help"})
        if (strcmp(word, command) == 0) return true;
    return false;
}

// Paths only, every one there: what Explorer hands a program files are dropped on.
bool AreDroppedPaths(int argc, const char* const* argv) {
    if (argc < 2 || IsCommandWord(argv[1])) return false;
    for (int i = 1; i < argc; i++)
        if (argv[i][0] == '-' || !PathExists(argv[i])) return false;
    return true;
}

// One conversion of dropped paths, as the command line would ask for it.
struct DroppedBatch {
    Options options;
    std::string outDir;
};

DroppedBatch DroppedAs(int command, const std::string& path) {
    DroppedBatch batch;
    batch.options.command = command;
    // PNGs are put back onto their textures; PNGs already there are kept.
    batch.options.force = command == kCommandEncode;
    batch.options.verbose = true;
    batch.options.jobs = ProcessorCount();
    if (!path.empty()) batch.options.inputs.push_back(path);
    return batch;
}

bool FolderHolds(int command, const std::string& folder) {
    DroppedBatch probe = DroppedAs(command, folder);
    probe.options.recursive = true;
    bool anyFolder;
    for (const Item& item : CollectInputs(probe.options, &anyFolder))
        if (item.problem.empty()) return true;
    return false;
}

// A dropped folder: FOLDER-png back onto FOLDER's textures; a folder of
// textures to FOLDER-png; a folder of PNGs alone onto the textures beside them.
bool PlanDroppedFolder(std::string folder, DroppedBatch* batch, FILE* err) {
    while (folder.size() > 1 && IsPathSeparator(folder.back()) && folder[folder.size() - 2] != ':') folder.pop_back();
    const size_t suffix = sizeof kPngFolderSuffix - 1;
    const std::string textures = folder.size() > suffix ? folder.substr(0, folder.size() - suffix) : std::string();
    if (EndsWithNoCase(folder, kPngFolderSuffix) && folder.size() - suffix > BaseNameStart(folder) &&
        IsDirectory(textures.c_str())) {
        *batch = DroppedAs(kCommandEncode, folder);
        batch->outDir = textures;
    } else if (FolderHolds(kCommandDecode, folder)) {
        *batch = DroppedAs(kCommandDecode, folder);
        batch->outDir = folder + kPngFolderSuffix;
    } else if (FolderHolds(kCommandEncode, folder)) {
        *batch = DroppedAs(kCommandEncode, folder);
    } else {
        Say(err, Text(kTextDropNothing), folder.c_str());
        return false;
    }
    batch->options.recursive = true;
    return true;
}

int RunDropped(int argc, const char* const* argv, FILE* out, FILE* err) {
    std::vector<DroppedBatch> batches;
    batches.push_back(DroppedAs(kCommandDecode, ""));   // the textures
    batches.push_back(DroppedAs(kCommandEncode, ""));   // the PNGs
    int status = kExitOk;
    for (int i = 1; i < argc; i++) {
        if (!IsDirectory(argv[i])) {
            batches[EndsWithNoCase(argv[i], ".png") ? 1 : 0].options.inputs.push_back(argv[i]);
            continue;
        }
        DroppedBatch folder;
        if (PlanDroppedFolder(argv[i], &folder, err)) batches.push_back(folder);
        else status = kExitFailed;
    }
    for (DroppedBatch& batch : batches) {
        if (batch.options.inputs.empty()) continue;
        if (!batch.outDir.empty()) {
            batch.options.outDir = batch.outDir.c_str();
            Say(out, Text(kTextDropFolder), batch.options.inputs[0].c_str(), batch.outDir.c_str());
        }
        const int done = RunConvert(batch.options, out, err);
        if (done == kExitInterrupted) return done;
        if (done != kExitOk) status = kExitFailed;
    }
    return status;
}

}  // namespace

int RunOmbr(int argc, const char* const* given, FILE* out, FILE* err) {
    // --console-cp goes anywhere before "--", even before the command.
    std::vector<const char*> args;
    bool optionsEnded = false;
    for (int i = 0; i < argc; i++) {
        if (i > 0 && !optionsEnded && strcmp(given[i], "--console-cp") == 0) {
            UseConsoleCodePageForFiles();
            continue;
        }
        if (strcmp(given[i], "--") == 0) optionsEnded = true;
        args.push_back(given[i]);
    }
    argc = (int)args.size();
    args.push_back(nullptr);
    const char* const* argv = args.data();
    if (AreDroppedPaths(argc, argv)) {
        const int status = RunDropped(argc, argv, out, err);
        fflush(out);
        fflush(err);
        return status;
    }
    Options options;
    bool done = false;
    const int parsed = ParseArguments(argc, argv, &options, out, err, &done);
    if (done || parsed != 0) return parsed;
    int status;
    if (options.command == kCommandInfo) status = RunInfo(options, out, err);
    else if (options.command == kCommandGallery) status = RunGallery(options, out, err);
    else if (options.command == kCommandPalette) {
        const PaletteJob job = {options.inputs[0].c_str(), options.output, options.choice.colorFormat,
                                options.force};
        const int result = ConvertPaletteFile(job, options.quiet ? nullptr : out, err);
        status = result == kConvertDone ? kExitOk : result == kConvertRefused ? kExitUsage : kExitFailed;
    }
    else status = RunConvert(options, out, err);
    fflush(out);
    fflush(err);
    return status;
}
