// quillbrook-bench: times quillbrook.dll's property handler on a corpus of
// FLAC files, in process, as the property system drives it, next to the
// raw-I/O floor of the same reads and a plain copy for rewrites; counts the
// stream calls of each operation; and does the read and the rewrite again
// over a stream that waits on every call, as slow storage does. Prints one
// NAME=VALUE line per figure; bench/report.py turns them into the table.
#include "bench/class_object.h"
#include "bench/large_metadata.h"
#include "bench/measurements.h"
#include "bench/memory_measurements.h"
#include "bench/replacement_probe.h"
#include "resources/identifiers.h"
#include "tests/support/com_helpers.h"
#include "tests/thumbnail/recording_photo_provider.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char* Usage = "usage: quillbrook-bench [--dll PATH] CORPUS_DIR WORK_DIR\n"
                              "  CORPUS_DIR holds short\\*.flac and long\\*.flac (bench/make_corpus.py);\n"
                              "  WORK_DIR receives the copies that commits write to.\n"
                              "  Without --dll the registered classes are used (CoGetClassObject and\n"
                              "  CoCreateInstance).\n";

// The slow-storage scenario: every stream call waits this long first, about
// a round trip to a file share on a local network.
constexpr double SlowCallMicros = 500;

void Progress(const char* text)
{
    std::fprintf(stderr, "bench: %s\n", text);
    std::fflush(stderr);
}

bool Check(HRESULT hr, const char* what, const CorpusFile& file)
{
    if (SUCCEEDED(hr)) {
        return true;
    }
    std::fprintf(stderr, "bench: %s failed with 0x%08lX on %ls\n", what, static_cast<unsigned long>(hr),
                 file.path.c_str());
    return false;
}

// Peak private bytes over one read of the file with the largest picture,
// above what the process held before it.
bool MeasureMemory(IClassFactory* handlerClass, const std::vector<CorpusFile>& files)
{
    const CorpusFile* largest = &files.front();
    for (const CorpusFile& file : files) {
        if (file.extent.pictureBytes > largest->extent.pictureBytes) {
            largest = &file;
        }
    }
    Report("memory_picture_bytes", static_cast<double>(largest->extent.pictureBytes));
    ReadTimes times;
    return Check(ReportPeakMemory("memory", [&]() { return MeasureRead(handlerClass, *largest, times); }),
                 "memory read", *largest);
}

// Peak memory of one thumbnail-provider Initialize of the file with the
// largest picture. The photo provider's stand-in keeps the memory stream it
// is handed, as a provider that decodes lazily does, but no copy of its
// bytes: the figure is the thumbnail provider's own.
bool MeasureThumbnailMemory(IClassFactory* thumbnailClass, const std::vector<CorpusFile>& files)
{
    RecordingBehaviour behaviour;
    behaviour.keepBytes = false;
    RecordingPhotoProvider photoProvider(behaviour);
    if (FAILED(photoProvider.RegistrationResult())) {
        Progress("cannot register the photo thumbnail stand-in");
        return false;
    }
    const CorpusFile* largest = &files.front();
    for (const CorpusFile& file : files) {
        if (file.extent.pictureBytes > largest->extent.pictureBytes) {
            largest = &file;
        }
    }
    Report("thumbnail_memory_picture_bytes", static_cast<double>(largest->extent.pictureBytes));
    const HRESULT hr = ReportPeakMemory("thumbnail_memory", [&]() {
        double micros = 0;
        StreamCounts counts;
        return MeasureThumbnailInitialize(thumbnailClass, *largest, micros, counts);
    });
    return Check(hr, "thumbnail memory", *largest) && photoProvider.Calls().initializeCalls == 1;
}

// The process's private bytes while the corpus is read twice through one
// class object: the first pass warms up (caches, heaps), and the second must
// leave them where the first did.
bool MeasureCorpusMemory(IClassFactory* handlerClass, const std::vector<CorpusFile>& files)
{
    constexpr std::size_t SampleEvery = 250;
    double afterWarmUp = 0;
    double highest = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (std::size_t i = 0; i < files.size(); ++i) {
            ReadTimes times;
            if (!Check(MeasureRead(handlerClass, files[i], times), "corpus memory read", files[i])) {
                return false;
            }
            if (pass == 1 && (i + 1) % SampleEvery == 0) {
                highest = std::max(highest, PrivateBytes());
            }
        }
        if (pass == 0) {
            afterWarmUp = PrivateBytes();
        }
    }
    const double end = PrivateBytes();
    Report("corpus_memory_method", PrivateBytesMethod());
    Report("corpus_memory_files", static_cast<double>(files.size()));
    Report("corpus_memory_after_warmup", afterWarmUp);
    Report("corpus_memory_end", end);
    Report("corpus_memory_growth", end - afterWarmUp);
    Report("corpus_memory_growth_max", std::max(highest, end) - afterWarmUp);
    return true;
}

// What the safe-save stream of the rewrites does with a finished copy, for
// the report to describe.
bool ProbeSafeSave(const std::vector<CorpusFile>& files, const std::wstring& work)
{
    ReplacementSeen seen;
    if (!Check(ProbeReplacement(files.front(), work + L"\\replace.flac", seen), "safe-save probe", files.front())) {
        return false;
    }
    Report("replace_holds_copy", seen.holdsCopy ? 1 : 0);
    Report("replace_new_file", seen.newFile ? 1 : 0);
    Report("replace_copy_name_gone", seen.copyNameGone ? 1 : 0);
    Report("replace_stream_follows", seen.streamFollows ? 1 : 0);
    return true;
}

struct Samples {
    std::vector<double> values;
    void Add(double value) { values.push_back(value); }
    void Report(const char* name) const
    {
        ::Report((std::string(name) + "_median").c_str(), Median(values));
        ::Report((std::string(name) + "_mean").c_str(), Mean(values));
    }
    void ReportMax(const char* name) const
    {
        ::Report((std::string(name) + "_max").c_str(),
                 values.empty() ? 0 : *std::max_element(values.begin(), values.end()));
    }
};

void ReportCounts(const char* name, const std::vector<StreamCounts>& all)
{
    Samples calls, reads, seeks, writes, commits, stats, others, bytesRead, bytesWritten, readUs, writeUs, seekUs,
        commitUs;
    for (const StreamCounts& c : all) {
        calls.Add(static_cast<double>(c.Calls()));
        commits.Add(static_cast<double>(c.commits));
        stats.Add(static_cast<double>(c.stats));
        others.Add(static_cast<double>(c.others));
        commitUs.Add(c.commitMicros);
        readUs.Add(c.readMicros);
        writeUs.Add(c.writeMicros);
        seekUs.Add(c.seekMicros);
        reads.Add(static_cast<double>(c.reads));
        seeks.Add(static_cast<double>(c.seeks));
        writes.Add(static_cast<double>(c.writes));
        bytesRead.Add(static_cast<double>(c.bytesRead));
        bytesWritten.Add(static_cast<double>(c.bytesWritten));
    }
    const std::string prefix = name;
    calls.Report((prefix + "_calls").c_str());
    calls.ReportMax((prefix + "_calls").c_str());
    commits.Report((prefix + "_commits").c_str());
    stats.Report((prefix + "_stats").c_str());
    others.Report((prefix + "_others").c_str());
    reads.Report((prefix + "_reads").c_str());
    seeks.Report((prefix + "_seeks").c_str());
    writes.Report((prefix + "_writes").c_str());
    bytesRead.Report((prefix + "_bytes_read").c_str());
    bytesWritten.Report((prefix + "_bytes_written").c_str());
    readUs.Report((prefix + "_read_us").c_str());
    writeUs.Report((prefix + "_write_us").c_str());
    seekUs.Report((prefix + "_seek_us").c_str());
    commitUs.Report((prefix + "_commit_us").c_str());
}

// The file that took the most calls: its metadata length and its calls.
void ReportMostCalls(const char* name, const std::vector<StreamCounts>& counts, const std::vector<CorpusFile>& files)
{
    std::size_t most = 0;
    for (std::size_t i = 0; i < counts.size(); ++i) {
        if (counts[i].Calls() > counts[most].Calls()) {
            most = i;
        }
    }
    const std::string prefix = std::string(name) + "_calls_max_";
    const StreamCounts& c = counts[most];
    ::Report((prefix + "metadata_bytes").c_str(), static_cast<double>(files[most].extent.MetadataLength()));
    ::Report((prefix + "reads").c_str(), static_cast<double>(c.reads));
    ::Report((prefix + "writes").c_str(), static_cast<double>(c.writes));
    ::Report((prefix + "seeks").c_str(), static_cast<double>(c.seeks));
    ::Report((prefix + "stats").c_str(), static_cast<double>(c.stats));
    ::Report((prefix + "commits").c_str(), static_cast<double>(c.commits));
    ::Report((prefix + "others").c_str(), static_cast<double>(c.others));
}

bool BenchReads(const ClassSource& source, IClassFactory* handlerClass, const std::vector<CorpusFile>& files)
{
    // A first pass counts the stream calls and warms the file cache; the
    // second is timed, floor and read alternating file by file.
    std::vector<StreamCounts> counts(files.size());
    Samples needed, properties, taskBlocks, taskBlock, inMemory, chainInMemory, activation;
    std::vector<BYTE> bytes;
    for (std::size_t i = 0; i < files.size(); ++i) {
        ReadTimes times;
        double micros = 0, chainMicros = 0, activationMicros = 0;
        if (!Check(MeasureRead(handlerClass, files[i], times, &counts[i]), "counted read", files[i]) ||
            !Check(MeasureInitializeInMemory(handlerClass, files[i], bytes, micros), "in-memory read", files[i]) ||
            !Check(MeasureChainReadInMemory(files[i], bytes, chainMicros), "in-memory chain read", files[i]) ||
            !Check(MeasureActivation(source, activationMicros), "activation", files[i])) {
            return false;
        }
        inMemory.Add(micros);
        chainInMemory.Add(chainMicros);
        activation.Add(activationMicros);
        needed.Add(static_cast<double>(files[i].extent.neededBytes));
        properties.Add(times.properties);
        taskBlocks.Add(times.taskBlocks);
        taskBlock.Add(MeasureTaskBlock());
    }
    ReportCounts("read", counts);
    ReportMostCalls("read", counts, files);
    needed.Report("floor_bytes");
    properties.Report("read_properties");
    taskBlocks.Report("read_task_blocks");
    taskBlock.Report("task_block_us");
    inMemory.Report("read_initialize_memory_us");
    chainInMemory.Report("read_chain_memory_us");
    activation.Report("activation_us");

    Progress("timing reads and the floor");
    std::vector<BYTE> buffer;
    Samples floor, total, open, create, initialize, values, release;
    for (const CorpusFile& file : files) {
        double micros = 0;
        ReadTimes times;
        if (!Check(MeasureFloor(file, buffer, micros), "floor", file) ||
            !Check(MeasureRead(handlerClass, file, times), "read", file)) {
            return false;
        }
        floor.Add(micros);
        total.Add(times.total);
        open.Add(times.open);
        create.Add(times.create);
        initialize.Add(times.initialize);
        values.Add(times.values);
        release.Add(times.release);
    }
    floor.Report("floor_us");
    total.Report("read_us");
    open.Report("read_open_us");
    create.Report("read_create_us");
    initialize.Report("read_initialize_us");
    values.Report("read_values_us");
    release.Report("read_release_us");
    return true;
}

bool BenchThumbnails(IClassFactory* thumbnailClass, const std::vector<CorpusFile>& files)
{
    // Wine has no photo thumbnail provider, and the corpus's covers are not
    // real pictures: a stand-in registered for this process takes the
    // picture, so that only the provider's own reading is measured.
    RecordingPhotoProvider photoProvider;
    if (FAILED(photoProvider.RegistrationResult())) {
        Progress("cannot register the photo thumbnail stand-in");
        return false;
    }
    std::vector<StreamCounts> all(files.size()), withPicture;
    Samples micros;
    for (std::size_t i = 0; i < files.size(); ++i) {
        double us = 0;
        if (!Check(MeasureThumbnailInitialize(thumbnailClass, files[i], us, all[i]), "thumbnail Initialize",
                   files[i])) {
            return false;
        }
        micros.Add(us);
        if (files[i].extent.pictureBytes != 0) {
            withPicture.push_back(all[i]);
        }
    }
    ReportCounts("thumbnail", all);
    ReportMostCalls("thumbnail", all, files);
    ReportCounts("thumbnail_picture", withPicture);
    ::Report("thumbnail_picture_files", static_cast<double>(withPicture.size()));
    micros.Report("thumbnail_initialize_us");
    return true;
}

bool BenchInPlace(const ClassSource& source, const std::vector<CorpusFile>& files, const std::wstring& work)
{
    const std::wstring scratch = work + L"\\in-place.flac";
    Samples micros, ratio;
    std::vector<StreamCounts> counts(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        double us = 0;
        if (!Check(MeasureInPlaceCommit(source, files[i], scratch, us, counts[i]), "in-place commit", files[i])) {
            return false;
        }
        micros.Add(us);
        const ULONGLONG changed = ChangedSpanBytes(files[i].path, scratch, files[i].extent.audioOffset);
        ratio.Add(changed != 0 ? static_cast<double>(counts[i].bytesWritten) / static_cast<double>(changed) : 0);
    }
    DeleteFileW(scratch.c_str());
    micros.Report("inplace_us");
    ratio.Report("inplace_written_vs_changed_span");
    ::Report("inplace_written_vs_changed_span_min", *std::min_element(ratio.values.begin(), ratio.values.end()));
    ::Report("inplace_written_vs_changed_span_max", *std::max_element(ratio.values.begin(), ratio.values.end()));
    ReportCounts("inplace", counts);
    ReportMostCalls("inplace", counts, files);
    return true;
}

bool BenchRewrite(const ClassSource& source, const std::vector<CorpusFile>& files, const std::wstring& work,
                  const char* name, double delayMicros)
{
    const std::wstring rewritten = work + L"\\rewrite.flac";
    const std::wstring copied = work + L"\\copy.flac";
    std::vector<BYTE> buffer(1 << 20);
    Samples rewrite, copy, sizes, rewriteTime, copyTime, calls;
    std::vector<StreamCounts> sourceCounts(files.size()), destinationCounts(files.size());
    std::vector<StreamCounts> copySourceCounts(files.size()), copyDestinationCounts(files.size());
    for (std::size_t i = 0; i < files.size(); ++i) {
        double rewriteUs = 0, copyUs = 0;
        if (!Check(MeasureRewriteCommit(source, files[i], rewritten, rewriteUs, sourceCounts[i], destinationCounts[i],
                                        delayMicros),
                   "rewrite commit", files[i]) ||
            !Check(MeasureCopy(files[i], copied, buffer, copyUs, copySourceCounts[i], copyDestinationCounts[i],
                               delayMicros),
                   "copy", files[i])) {
            return false;
        }
        // Bytes per microsecond: megabytes (10^6) per second.
        rewrite.Add(static_cast<double>(files[i].size) / rewriteUs);
        copy.Add(static_cast<double>(files[i].size) / copyUs);
        sizes.Add(static_cast<double>(files[i].size));
        rewriteTime.Add(rewriteUs);
        copyTime.Add(copyUs);
        calls.Add(static_cast<double>(sourceCounts[i].Calls() + destinationCounts[i].Calls()));
    }
    DeleteFileW(rewritten.c_str());
    DeleteFileW(copied.c_str());
    const std::string prefix = name;
    rewriteTime.Report((prefix + "_us").c_str());
    copyTime.Report((prefix + "_copy_us").c_str());
    rewrite.Report((prefix + "_mbps").c_str());
    copy.Report((prefix + "_copy_mbps").c_str());
    sizes.Report((prefix + "_file_bytes").c_str());
    calls.Report((prefix + "_calls").c_str());
    calls.ReportMax((prefix + "_calls").c_str());
    ReportCounts((prefix + "_source").c_str(), sourceCounts);
    ReportCounts((prefix + "_destination").c_str(), destinationCounts);
    ReportCounts((prefix + "_copy_source").c_str(), copySourceCounts);
    ReportCounts((prefix + "_copy_destination").c_str(), copyDestinationCounts);
    return true;
}

bool BenchSlowReads(IClassFactory* handlerClass, const std::vector<CorpusFile>& files)
{
    // How long the wait of one call really is.
    Samples delay;
    for (int i = 0; i < 200; ++i) {
        const Stopwatch clock;
        WaitMicros(SlowCallMicros);
        delay.Add(clock.Micros());
    }
    ::Report("slow_delay_us", SlowCallMicros);
    delay.Report("slow_delay_measured_us");

    std::vector<BYTE> buffer;
    std::vector<StreamCounts> counts(files.size());
    Samples floor, total, initialize;
    for (std::size_t i = 0; i < files.size(); ++i) {
        double micros = 0;
        ReadTimes times;
        if (!Check(MeasureFloor(files[i], buffer, micros, SlowCallMicros), "slow floor", files[i]) ||
            !Check(MeasureRead(handlerClass, files[i], times, &counts[i], SlowCallMicros), "slow read", files[i])) {
            return false;
        }
        floor.Add(micros);
        total.Add(times.total);
        initialize.Add(times.initialize);
    }
    floor.Report("slow_floor_us");
    total.Report("slow_read_us");
    initialize.Report("slow_read_initialize_us");
    ReportCounts("slow_read", counts);
    return true;
}

int Run(const std::wstring& dll, const std::wstring& corpus, const std::wstring& work)
{
    ClassSource source;
    HRESULT hr = source.Load(dll);
    if (FAILED(hr)) {
        std::fprintf(stderr, "bench: cannot load %ls: 0x%08lX\n", dll.c_str(), static_cast<unsigned long>(hr));
        return 1;
    }
    const std::vector<CorpusFile> shortFiles = ListCorpus(corpus + L"\\short");
    const std::vector<CorpusFile> longFiles = ListCorpus(corpus + L"\\long");
    if (shortFiles.empty() || longFiles.empty()) {
        std::fprintf(stderr, "bench: no corpus in %ls\n", corpus.c_str());
        return 1;
    }
    for (const auto* list : {&shortFiles, &longFiles}) {
        for (const CorpusFile& file : *list) {
            if (!file.extent.valid) {
                std::fprintf(stderr, "bench: not a FLAC file: %ls\n", file.path.c_str());
                return 1;
            }
        }
    }
    CreateDirectoryW(work.c_str(), nullptr);
    Report("files", static_cast<double>(shortFiles.size()));
    Report("long_files", static_cast<double>(longFiles.size()));
    Report("class_source", dll.empty() ? "CoGetClassObject" : "DllGetClassObject");

    // The reads create their objects from class objects got once and kept,
    // as a host that keeps its class objects does; what CoCreateInstance
    // adds per object is measured on its own.
    ComPtr<IClassFactory> handlerClass, thumbnailClass;
    hr = GetClassObject(source, CLSID_PropertyHandler, &handlerClass);
    if (SUCCEEDED(hr)) {
        hr = GetClassObject(source, CLSID_ThumbnailProvider, &thumbnailClass);
    }
    if (FAILED(hr)) {
        std::fprintf(stderr, "bench: no class object: 0x%08lX\n", static_cast<unsigned long>(hr));
        return 1;
    }

    // One read first, so that loading the module is not counted anywhere.
    ReadTimes warm;
    if (!Check(MeasureRead(handlerClass.Get(), shortFiles.front(), warm), "first read", shortFiles.front())) {
        return 1;
    }
    Progress("memory");
    if (!MeasureMemory(handlerClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("thumbnail memory");
    if (!MeasureThumbnailMemory(thumbnailClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("private bytes over the corpus, read twice through one class object");
    if (!MeasureCorpusMemory(handlerClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("counting stream calls");
    if (!BenchReads(source, handlerClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("thumbnail provider Initialize");
    if (!BenchThumbnails(thumbnailClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("in-place commits");
    if (!BenchInPlace(source, shortFiles, work)) {
        return 1;
    }
    Progress("how the safe-save stream replaces the file");
    if (!ProbeSafeSave(longFiles, work)) {
        return 1;
    }
    const std::vector<CorpusFile> largeFiles = ListCorpus(corpus + L"\\large");
    Progress("in-place commit with large metadata");
    if (!largeFiles.empty() && !BenchLargeMetadata(source, largeFiles.front(), work + L"\\large-metadata.flac")) {
        return 1;
    }
    Progress("rewrite commits and copies");
    if (!BenchRewrite(source, longFiles, work, "rewrite", 0)) {
        return 1;
    }
    Progress("slow storage: reads and the floor");
    if (!BenchSlowReads(handlerClass.Get(), shortFiles)) {
        return 1;
    }
    Progress("slow storage: rewrite commits and copies");
    if (!BenchRewrite(source, longFiles, work, "slow_rewrite", SlowCallMicros)) {
        return 1;
    }
    return 0;
}

} // namespace

int wmain(int argc, wchar_t** argv)
{
    std::wstring dll;
    std::vector<std::wstring> paths;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        if (arg == L"--dll" && i + 1 < argc) {
            dll = argv[++i];
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.size() != 2) {
        std::fputs(Usage, stderr);
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        return 1;
    }
    const int status = Run(dll, paths[0], paths[1]);
    CoUninitialize();
    return status;
}
