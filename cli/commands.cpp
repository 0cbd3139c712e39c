#include "commands.h"

#include <string.h>

#include <new>

#include <string>
#include <utility>
#include <vector>

#include "convert.h"
#include "files.h"
#include "gallery.h"
#include "inputs.h"
#include "outputs.h"
#include "palette_command.h"
#include "paths.h"
#include "pool.h"
#include "recover.h"
#include "report.h"
#include "run_locks.h"

namespace {

// A batch: every input a job, run on o.jobs threads, reported in input order
// whatever order they finish in.
struct Batch {
    const Options* options;
    std::vector<Job> jobs;
    Reporter reporter;
    size_t reported;          // jobs whose messages are out, a prefix of `jobs`
    size_t converted;
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
        InspectPicture(path, *batch->options, &job.picture);
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
                                  o.choice,              o.palette,          o.unmapped,   o.force};
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
    if (!batch->options->verbose) return;
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
        Say(err, "ombr: %s takes a single input file; use --out-dir for many\n", o.output ? "-o" : "--raw");
        return kExitUsage;
    }
    if (o.outDir && MakeDirectories(o.outDir) != 0) {
        Say(err, "ombr: cannot create the folder %s\n", o.outDir);
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
                      batch.failures.size(), interrupted);
    if (batch.failures.size() > 0 && batch.jobs.size() > 1)
        ReportFailedFiles(&batch.reporter, batch.failures.data(), batch.failures.size());
    fflush(out);
    fflush(err);
    ReleaseInterruptions();
    LetGoFolders();
    if (interrupted) return kExitInterrupted;
    return batch.failures.empty() ? kExitOk : kExitFailed;
}

}  // namespace

int RunOmbr(int argc, const char* const* argv, FILE* out, FILE* err) {
    Options options;
    bool done = false;
    const int parsed = ParseArguments(argc, argv, &options, out, err, &done);
    if (done || parsed != 0) return parsed;
    int status;
    if (options.command == kCommandInfo) status = RunInfo(options, out, err);
    else if (options.command == kCommandGallery) status = RunGallery(options, out, err);
    else if (options.command == kCommandPalette) status = RunPalette(options, out, err);
    else status = RunConvert(options, out, err);
    fflush(out);
    fflush(err);
    return status;
}
