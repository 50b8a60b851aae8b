// The pipeline: its workers per processor, store-or-deflate per entry, the whole-buffer and
// streaming paths and their boundary, order across threads, failures on either side, and the bound
// on the memory held in flight.

#include "tamsorel/Pipeline.h"
#include "io/Io.h"
#include "tamsorel/tamsorel.h"
#include "tests/support/RawZip.h"
#include "tests/support/StringSource.h"
#include "tests/support/TestSupport.h"
#include "tests/support/ZipReaders.h"

#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <thread>
#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#endif
#include <unistd.h>

using namespace kelvane::test;
using namespace tamsorel;
using tamsorel::test::ReadRawZip;

namespace {

using AddResult = ArchivePipeline::AddResult;

// Text that deflates well but not trivially: words and numbers at random, in a block of up
// to 256 KiB that repeats (farther apart than deflate can see).
std::string Text(std::size_t n, unsigned seed)
{
    static const char *const kWords[]
        = {"archive ", "entry ", "folder ", "take ", "clip ", "deflate ", "store ", "\n"};
    std::mt19937 gen(seed);
    std::string block;
    while (block.size() < std::min<std::size_t>(n, 256 << 10)) {
        block += kWords[gen() % 8];
        block += std::to_string(gen() % 1000);
    }
    std::string s;
    s.reserve(n + block.size());
    while (s.size() < n)
        s += block;
    s.resize(n);
    return s;
}

EntryInfo Info(const std::string &name)
{
    EntryInfo info;
    info.name = name;
    tamsorel::SetEntryTime(info, 1100000000);
    return info;
}

struct Input
{
    std::string name;
    std::string data;
    std::uint64_t hint; // the size the source claims to have when the add starts
};

// Builds an archive through a pipeline with the given limits; every add must succeed.
void Build(const std::string &path, const std::vector<Input> &inputs, const PipelineLimits &limits,
           std::size_t *peak = nullptr)
{
    const int fd = kelvane::io::Open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        ArchivePipeline pipeline(fd, limits);
        for (const Input &in : inputs) {
            StringSource source(in.data);
            ASSERT_EQ(pipeline.Add(Info(in.name), source, in.hint), AddResult::Added) << in.name;
        }
        EXPECT_TRUE(pipeline.Finish());
        EXPECT_EQ(pipeline.BytesInFlight(), 0u) << "every entry's room given back once";
        if (peak)
            *peak = pipeline.PeakBytesInFlight();
    }
    kelvane::io::Close(fd);
}

// Checks the archive with libarchive, Python's zipfile and unzip against the inputs.
void ExpectContents(const std::string &archive, const std::vector<Input> &inputs)
{
    const auto zip = ReadZip(archive);
    ASSERT_TRUE(zip.ok) << zip.error;
    ASSERT_EQ(zip.entries.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        EXPECT_EQ(zip.entries[i].name, inputs[i].name);
        EXPECT_TRUE(zip.entries[i].data == inputs[i].data) << inputs[i].name;
    }
    // 7-Zip, Info-ZIP and Python's zipfile: all accept it and agree on every entry.
    const auto reports = kelvane::test::ExpectArchivesReadAlike({archive});
    ASSERT_EQ(reports.size(), 1u) << "7zz, unzip and python3 are needed";
    ASSERT_EQ(reports[0].entries.size(), inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto &entry = reports[0].entries[i];
        EXPECT_EQ(entry.name, inputs[i].name);
        EXPECT_EQ(entry.size, inputs[i].data.size()) << inputs[i].name;
        if (entry.haveData) {
            EXPECT_TRUE(entry.data == inputs[i].data) << inputs[i].name;
        }
    }
}

// Reads a real file and runs an action on it once the first piece has been read: the file
// changes under the reader exactly as another program writing to it would make it.
class ChangingSource : public ByteSource
{
public:
    ChangingSource(ByteSource &file, std::function<void()> change)
        : file_(file), change_(std::move(change))
    { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        const std::int64_t n = file_.Read(buffer, std::min(size, std::size_t {300000}));
        if (change_) {
            change_();
            change_ = nullptr;
        }
        return n;
    }

private:
    ByteSource &file_;
    std::function<void()> change_;
};

PipelineLimits SmallLimits()
{
    PipelineLimits limits;
    limits.wholeBufferLimit = 256 << 10;
    limits.bytesInFlight = 2 << 20;
    limits.batchEntries = 3;
    limits.batchBytes = 100 << 10;
    return limits;
}

} // namespace

TEST(PipelineTest, IncompressibleDataIsStoredAndCompressibleDeflatedOnBothPaths)
{
    TempDir dir;
    // Below the limit the whole buffer is judged; above it, the first chunk of the stream.
    const std::vector<Input> inputs = {
        {"noise-buffer", RandomBytes(200 << 10, 1), 200 << 10},
        {"text-buffer", Text(200 << 10, 2), 200 << 10},
        {"noise-stream", RandomBytes(3 << 20, 3), 3 << 20},
        {"text-stream", Text(3 << 20, 4), 3 << 20},
        // Noise with a compressible start is judged by its samples: the middle and the end
        // are noise too, so the buffer is stored.
        {"mostly-noise", Text(2 << 10, 5) + RandomBytes(200 << 10, 6), 202 << 10},
        {"tiny", "abc", 3},
    };
    const std::string archive = dir / "out.zip";
    Build(archive, inputs, SmallLimits());

    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    ASSERT_EQ(raw.entries.size(), inputs.size());
    const std::vector<int> methods = {0, 8, 0, 8, 0, 0};
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const auto &e = raw.entries[i];
        EXPECT_EQ(e.local.method, methods[i]) << inputs[i].name;
        EXPECT_EQ(e.central.method, methods[i]) << inputs[i].name;
        EXPECT_EQ(e.central.versionNeeded, methods[i] == 0 ? 10 : 20) << inputs[i].name;
        EXPECT_EQ(e.local.size32, inputs[i].data.size());
        if (methods[i] == 0)
            EXPECT_EQ(e.central.compressedSize32, inputs[i].data.size()) << inputs[i].name;
        else
            EXPECT_LT(e.central.compressedSize32, inputs[i].data.size() / 2) << inputs[i].name;
        EXPECT_EQ(e.local.compressedSize32, e.central.compressedSize32);
        EXPECT_EQ(e.local.crc, e.central.crc);
    }
    ExpectContents(archive, inputs);
}

TEST(PipelineTest, SizesAroundTheWholeBufferLimitRoundTrip)
{
    TempDir dir;
    const std::size_t limit = SmallLimits().wholeBufferLimit;
    std::vector<Input> inputs;
    unsigned seed = 10;
    for (const std::size_t size : {limit - 1, limit, limit + 1, 2 * limit, std::size_t {0}}) {
        inputs.push_back({"text" + std::to_string(size), Text(size, ++seed), size});
        inputs.push_back({"noise" + std::to_string(size), RandomBytes(size, ++seed), size});
    }
    // Sources whose size changes between the look and the read: grown within the limit,
    // grown past it (streamed on from what was read), shrunk.
    inputs.push_back({"grew-a-little", Text(limit - 10, ++seed), 1000});
    inputs.push_back({"grew-past", Text(3 * limit, ++seed), 1000});
    inputs.push_back({"grew-past-noise", RandomBytes(limit + 1, ++seed), limit});
    inputs.push_back({"shrank", Text(1000, ++seed), limit});
    const std::string archive = dir / "limits.zip";
    Build(archive, inputs, SmallLimits());
    ExpectContents(archive, inputs);
    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        EXPECT_EQ(raw.entries[i].central.size32, inputs[i].data.size()) << inputs[i].name;
}

// The default limit through the exported interface, with real files.
TEST(PipelineTest, FilesJustUnderAndOverTheDefaultLimitRoundTrip)
{
    TempDir dir;
    const std::size_t limit = PipelineLimits().wholeBufferLimit;
    const std::string text = Text(limit + 1, 30);
    WriteFile(dir / "under", text.substr(0, limit));
    WriteFile(dir / "over", text);
    const std::string archive = dir / "big.zip";
    ArchiveHandle h = ArchiveOpen(archive.c_str(), 0);
    ASSERT_NE(h, nullptr);
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "under").c_str(), nullptr, 0, "under"));
    EXPECT_TRUE(ArchiveAddFile(h, (dir / "over").c_str(), nullptr, 0, "over"));
    ASSERT_TRUE(ArchiveClose(&h));
    ExpectContents(archive, {{"under", text.substr(0, limit), 0}, {"over", text, 0}});
}

TEST(PipelineTest, ManyFilesKeepTheirOrderWhateverPathEachTakes)
{
    TempDir dir;
    std::vector<Input> inputs;
    std::mt19937 gen(40);
    for (int i = 0; i < 400; ++i) {
        const std::size_t size = i % 37 == 0 ? 300000 + gen() % 200000 : gen() % 20000;
        const bool noise = i % 5 == 0;
        char name[32];
        std::snprintf(name, sizeof name, "f%04d", i);
        inputs.push_back({name, noise ? RandomBytes(size, i) : Text(size, i), size});
    }
    const std::string threaded = dir / "threaded.zip";
    Build(threaded, inputs, SmallLimits());
    ExpectContents(threaded, inputs);

    // The same entries on the caller's thread alone: the very same bytes.
    PipelineLimits single = SmallLimits();
    single.workers = 0;
    const std::string inline_ = dir / "inline.zip";
    Build(inline_, inputs, single);
    EXPECT_TRUE(ReadFile(threaded) == ReadFile(inline_));
}

TEST(PipelineTest, ManyFilesThroughTheInterfaceKeepTheirOrder)
{
    TempDir dir;
    const int count = 3000;
    std::vector<Input> expected;
    ArchiveHandle h = ArchiveOpen((dir / "many.zip").c_str(), 0);
    ASSERT_NE(h, nullptr);
    for (int i = 0; i < count; ++i) {
        const std::string name = "n" + std::to_string(count - i); // not in sorted order
        const std::string data = i % 3 == 0 ? RandomBytes(i * 7 % 5000, i) : Text(i % 9000, i);
        WriteFile(dir / name, data);
        ASSERT_TRUE(ArchiveAddFile(h, (dir / name).c_str(), nullptr, 0, name.c_str()));
        expected.push_back({name, data, 0});
    }
    ASSERT_TRUE(ArchiveClose(&h));
    ExpectContents(dir / "many.zip", expected);
}

#ifndef _WIN32 // there a file open for reading is not cut short by another writer
// A file that shrinks or grows while it is read: what goes in is the bytes actually read,
// on the whole-buffer path (grown past the limit, too) and on the streaming path.
TEST(PipelineTest, FileChangingWhileReadIsStoredAsTheBytesActuallyRead)
{
    TempDir dir;
    const std::string original = RandomBytes(3 << 20, 1);
    const std::string extra = RandomBytes(1 << 20, 2);
    const std::string archive = dir / "out.zip";
    PipelineLimits limits;
    limits.wholeBufferLimit = 2 << 20;
    std::vector<Input> expected;
    const int fd = kelvane::io::Open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        ArchivePipeline pipeline(fd, limits);
        for (const std::uint64_t hint : {std::uint64_t {1} << 20, std::uint64_t {3} << 20}) {
            const std::string tag = std::to_string(hint);
            WriteFile(dir / "shrinks", original);
            tamsorel::FileSource shrinking;
            ASSERT_TRUE(shrinking.Open((dir / "shrinks").c_str()));
            ChangingSource shrink(shrinking, [&] {
                ASSERT_EQ(::truncate((dir / "shrinks").c_str(), (3 << 20) / 2), 0);
            });
            EXPECT_EQ(pipeline.Add(Info("shrinks" + tag), shrink, hint), AddResult::Added);
            expected.push_back({"shrinks" + tag, original.substr(0, (3 << 20) / 2), hint});

            WriteFile(dir / "grows", original);
            tamsorel::FileSource growing;
            ASSERT_TRUE(growing.Open((dir / "grows").c_str()));
            ChangingSource grow(growing, [&] {
                const int g = ::open((dir / "grows").c_str(), O_WRONLY | O_APPEND);
                ASSERT_GE(g, 0);
                ASSERT_EQ(::write(g, extra.data(), extra.size()),
                          static_cast<ssize_t>(extra.size()));
                ::close(g);
            });
            EXPECT_EQ(pipeline.Add(Info("grows" + tag), grow, hint), AddResult::Added);
            expected.push_back({"grows" + tag, original + extra, hint});
        }
        EXPECT_TRUE(pipeline.Finish());
        EXPECT_EQ(pipeline.BytesInFlight(), 0u);
    }
    kelvane::io::Close(fd);
    ExpectContents(archive, expected);
    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(raw.entries[i].local.size32, expected[i].data.size()) << expected[i].name;
        EXPECT_EQ(raw.entries[i].local.crc, raw.entries[i].central.crc) << expected[i].name;
    }
}

#endif

// An empty entry is stored with no deflate stream, also when deflate is asked for and when
// the file was expected to be large; a tiny entry is deflated when asked.
TEST(PipelineTest, EmptyEntryIsStoredWithoutDeflateStream)
{
    TempDir dir;
    const std::string archive = dir / "out.zip";
    const int fd = kelvane::io::Open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    {
        ArchivePipeline pipeline(fd, SmallLimits());
        EntryInfo deflated = Info("empty-deflated");
        deflated.compression = tamsorel::Compression::Deflate;
        StringSource empty1(""), empty2(""), empty3("");
        EXPECT_EQ(pipeline.Add(Info("empty"), empty1, 0), AddResult::Added);
        EXPECT_EQ(pipeline.Add(deflated, empty2, 0), AddResult::Added);
        EXPECT_EQ(pipeline.Add(Info("was-large"), empty3, 10 << 20), AddResult::Added);
        deflated.name = "text";
        StringSource text("text");
        EXPECT_EQ(pipeline.Add(deflated, text, 4), AddResult::Added);
        EXPECT_TRUE(pipeline.Finish());
    }
    kelvane::io::Close(fd);
    const auto raw = ReadRawZip(archive);
    ASSERT_TRUE(raw.ok) << raw.error;
    ASSERT_EQ(raw.entries.size(), 4u);
    for (std::size_t i = 0; i < 3; ++i) {
        const auto &entry = raw.entries[i];
        EXPECT_EQ(entry.central.method, 0) << entry.central.name;
        EXPECT_EQ(entry.local.method, 0) << entry.central.name;
        EXPECT_EQ(entry.central.compressedSize32, 0u) << entry.central.name;
        // The next entry starts right after this one's header: no stray bytes.
        std::size_t extraSize = 0;
        for (const auto &field : entry.local.extra)
            extraSize += 4 + field.second.size();
        EXPECT_EQ(raw.entries[i + 1].offset,
                  entry.offset + 30 + entry.local.name.size() + extraSize);
    }
    EXPECT_EQ(raw.entries[3].central.method, 8);
    ExpectContents(
        archive,
        {{"empty", "", 0}, {"empty-deflated", "", 0}, {"was-large", "", 0}, {"text", "text", 0}});
}

TEST(PipelineTest, ReadFailureFailsItsAddAtOnceAndLeavesNothing)
{
    TempDir dir;
    const std::string archive = dir / "out.zip";
    const int fd = kelvane::io::Open(archive.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ASSERT_GE(fd, 0);
    const std::string first = Text(50000, 50);
    const std::string last = Text(70000, 51);
    {
        ArchivePipeline pipeline(fd, SmallLimits());
        StringSource a(first);
        EXPECT_EQ(pipeline.Add(Info("first"), a, first.size()), AddResult::Added);
        // Whole-buffer path and streaming path, each failing part-way.
        StringSource failsSmall(Text(200000, 52), 100000);
        EXPECT_EQ(pipeline.Add(Info("fails-small"), failsSmall, 200000), AddResult::SourceFailed);
        StringSource failsLarge(RandomBytes(2 << 20, 53), 1 << 20);
        EXPECT_EQ(pipeline.Add(Info("fails-large"), failsLarge, 2 << 20), AddResult::SourceFailed);
        // Deflated in chunks on the workers, two of them written before the failure.
        StringSource failsInChunks(Text(4 << 20, 54), (5 << 20) / 2);
        EXPECT_EQ(pipeline.Add(Info("fails-in-chunks"), failsInChunks, 4 << 20),
                  AddResult::SourceFailed);
        StringSource failsAtOnce("", 0);
        EXPECT_EQ(pipeline.Add(Info("fails-at-once"), failsAtOnce, 10), AddResult::SourceFailed);
        EXPECT_FALSE(pipeline.Failed());
        StringSource b(last);
        EXPECT_EQ(pipeline.Add(Info("last"), b, last.size()), AddResult::Added);
        EXPECT_TRUE(pipeline.Finish());
        EXPECT_EQ(pipeline.BytesInFlight(), 0u);
    }
    kelvane::io::Close(fd);
    ExpectContents(archive, {{"first", first, 0}, {"last", last, 0}});
    EXPECT_LT(ReadFile(archive).size(), 100000u) << "nothing of the failed entries is left";
}

#ifndef _WIN32 // no /dev/full
TEST(PipelineTest, WriteFailureOnTheWorkersFailsLaterAddsAndTheFinish)
{
    const int fd = kelvane::io::Open("/dev/full", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "no /dev/full";
    {
        PipelineLimits limits;
        limits.wholeBufferLimit = 4 << 20;
        ArchivePipeline pipeline(fd, limits);
        // Read in full and handed over: the add succeeds; its write fails on a worker.
        StringSource buffered(RandomBytes(2 << 20, 60));
        EXPECT_EQ(pipeline.Add(Info("buffered"), buffered, 2 << 20), AddResult::Added);
        // A streamed entry waits for those before it, so it sees the failure.
        StringSource streamed(Text(5 << 20, 61));
        EXPECT_EQ(pipeline.Add(Info("streamed"), streamed, 5 << 20), AddResult::WriteFailed);
        EXPECT_TRUE(pipeline.Failed());
        StringSource small("x");
        EXPECT_EQ(pipeline.Add(Info("small"), small, 1), AddResult::WriteFailed);
        EXPECT_FALSE(pipeline.Finish());
        EXPECT_EQ(pipeline.BytesInFlight(), 0u);
    }
    {
        // Only small entries that fit the output buffer: the failure shows at the finish.
        ArchivePipeline pipeline(fd, SmallLimits());
        StringSource small("x");
        EXPECT_EQ(pipeline.Add(Info("small"), small, 1), AddResult::Added);
        EXPECT_FALSE(pipeline.Finish());
        EXPECT_EQ(pipeline.BytesInFlight(), 0u);
    }
    kelvane::io::Close(fd);
}
#endif

TEST(PipelineTest, BytesInFlightStayWithinTheBound)
{
    TempDir dir;
    PipelineLimits limits;
    limits.wholeBufferLimit = 1 << 20;
    limits.bytesInFlight = 4 << 20;
    std::vector<Input> inputs;
    for (int i = 0; i < 60; ++i) {
        const std::size_t size = (900 << 10) + static_cast<std::size_t>(i) * 1000;
        inputs.push_back({"f" + std::to_string(i), Text(size, 80 + i), size});
    }
    // Larger than the limit: read and handed over in chunks, deflated and stored.
    inputs.push_back({"large-text", Text(6 << 20, 200), 6 << 20});
    inputs.push_back({"large-noise", RandomBytes(5 << 20, 201), 5 << 20});
    inputs.push_back({"after", Text(500 << 10, 202), 500 << 10});
    std::size_t peak = 0;
    const std::string archive = dir / "bounded.zip";
    Build(archive, inputs, limits, &peak);
    EXPECT_GT(peak, std::size_t {2} << 20) << "two entries, input and output, at least";
    EXPECT_LE(peak, limits.bytesInFlight);
    ExpectContents(archive, inputs);
}

TEST(PipelineTest, WorkersFollowTheProcessorsWithinTheMemoryBudget)
{
    using tamsorel::AvailableProcessors;
    using tamsorel::WorkerCount;
    const std::size_t budget = PipelineLimits().bytesInFlight;
    EXPECT_EQ(WorkerCount(1, budget), 1u);
    EXPECT_EQ(WorkerCount(2, budget), 2u);
    EXPECT_EQ(WorkerCount(16, budget), 16u);
    // Many processors: as many workers as the budget gives room, not one per processor.
    EXPECT_LT(WorkerCount(64, budget), 64u);
    EXPECT_EQ(WorkerCount(64, budget), WorkerCount(128, budget));
    EXPECT_EQ(WorkerCount(64, std::size_t {1} << 20), 1u);
    EXPECT_EQ(WorkerCount(0, budget), 1u);

    // The affinity is what counts: limited to one processor, the pipeline takes one worker.
#ifdef _WIN32
    const HANDLE self = GetCurrentProcess();
    DWORD_PTR mask = 0, system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(self, &mask, &system));
    ASSERT_TRUE(SetProcessAffinityMask(self, mask & (~mask + 1)));
    const unsigned limited = AvailableProcessors();
    const unsigned workers = PipelineLimits().workers;
    SetProcessAffinityMask(self, mask);
#else
    unsigned limited = 0, workers = 0;
    std::thread([&] {
        cpu_set_t set;
        CPU_ZERO(&set);
        ASSERT_EQ(sched_getaffinity(0, sizeof set, &set), 0);
        int first = 0;
        while (!CPU_ISSET(first, &set))
            ++first;
        CPU_ZERO(&set);
        CPU_SET(first, &set);
        ASSERT_EQ(sched_setaffinity(0, sizeof set, &set), 0);
        limited = AvailableProcessors();
        workers = PipelineLimits().workers;
    }).join();
#endif
    EXPECT_EQ(limited, 1u);
    EXPECT_EQ(workers, 1u);
    EXPECT_EQ(PipelineLimits().workers, WorkerCount(AvailableProcessors(), budget));
}
