#include "tamsorel/Pipeline.h"

#include "tamsorel/Deflate.h"
#include "tamsorel/FileSink.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <system_error>
#include <zlib.h>

#ifdef _WIN32
#include <windows.h>
#else
#include <sched.h>
#include <sys/mman.h>
#endif

namespace tamsorel {

namespace {

// Large buffers are mapped directly, so that their pages go back to the system when they
// are freed: heap arenas of several threads would keep them and let the process grow.
constexpr std::size_t kMapFrom = std::size_t {1} << 20;
// Large entries are read and deflated in chunks of this size, each primed with the deflate
// window's worth of the chunk before.
constexpr std::size_t kChunkSize = std::size_t {1} << 20;
constexpr std::size_t kWindowSize = std::size_t {32} << 10;
constexpr std::size_t kChunkRoom = 2 * kChunkSize + kWindowSize;
// Chunks of a large entry in flight at most, beyond one per worker: enough to keep the
// workers busy while the caller reads the next; the budget of bytes bounds them too. A pool
// of buffers up to that many is kept for reuse.
constexpr std::size_t kChunksBeyondWorkers = 6;
// Each worker's share of the budget: a chunk it deflates (input and output) and one waiting.
constexpr std::size_t kWorkerShare = 2 * kChunkRoom;
// A final empty block with fixed codes: ends a deflate stream whose last block was flushed to
// a byte boundary without being marked final.
constexpr unsigned char kFinalBlock[] = {0x03, 0x00};

// Pages straight from the system, given back when they are freed.
void *MapPages(std::size_t size)
{
#ifdef _WIN32
    void *p = ::VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
    if (p == nullptr)
        throw std::bad_alloc();
#else
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
#endif
    return p;
}

void UnmapPages(void *p, std::size_t size)
{
#ifdef _WIN32
    (void)size;
    ::VirtualFree(p, 0, MEM_RELEASE);
#else
    ::munmap(p, size);
#endif
}

// Large buffers are mapped pages, the others from the heap.
unsigned char *AllocateBuffer(std::size_t capacity)
{
    if (capacity >= kMapFrom)
        return static_cast<unsigned char *>(MapPages(capacity));
    void *p = std::malloc(capacity ? capacity : 1);
    if (!p)
        throw std::bad_alloc();
    return static_cast<unsigned char *>(p);
}

// Gives a buffer back the way AllocateBuffer took it.
struct FreeBuffer
{
    std::size_t capacity = 0;
    void operator()(unsigned char *p) const
    {
        if (capacity >= kMapFrom)
            UnmapPages(p, capacity);
        else
            std::free(p);
    }
};

// The bytes read before the file turned out too large for a buffer, then the rest of it.
class PrefixSource : public ByteSource
{
public:
    PrefixSource(const unsigned char *prefix, std::size_t size, ByteSource &rest)
        : prefix_(prefix), size_(size), rest_(rest)
    { }
    std::int64_t Read(unsigned char *buffer, std::size_t size) override
    {
        if (pos_ == size_)
            return rest_.Read(buffer, size);
        const std::size_t n = std::min(size, size_ - pos_);
        std::memcpy(buffer, prefix_ + pos_, n);
        pos_ += n;
        return static_cast<std::int64_t>(n);
    }

private:
    const unsigned char *prefix_;
    std::size_t size_;
    std::size_t pos_ = 0;
    ByteSource &rest_;
};

std::size_t ChunksInFlight(const PipelineLimits &limits)
{
    return limits.workers + kChunksBeyondWorkers;
}

} // namespace

unsigned AvailableProcessors()
{
    unsigned count = 0;
#ifdef _WIN32
    DWORD_PTR process = 0, system = 0;
    if (::GetProcessAffinityMask(::GetCurrentProcess(), &process, &system))
        for (; process != 0; process &= process - 1)
            ++count;
#else
    cpu_set_t set;
    CPU_ZERO(&set);
    if (::sched_getaffinity(0, sizeof set, &set) == 0)
        count = static_cast<unsigned>(CPU_COUNT(&set));
#endif
    if (count == 0) // more processors than the mask can say, or no answer
        count = std::thread::hardware_concurrency();
    return std::max(count, 1u);
}

unsigned WorkerCount(unsigned processors, std::size_t bytesInFlight)
{
    const std::size_t byBudget = bytesInFlight / kWorkerShare;
    return static_cast<unsigned>(
        std::max<std::size_t>(std::min<std::size_t>(processors, byBudget), 1));
}

class ArchivePipeline::Buffer
{
public:
    Buffer() = default;
    explicit Buffer(std::size_t capacity) : data_(AllocateBuffer(capacity), FreeBuffer {capacity})
    { }

    unsigned char *Data() const { return data_.get(); }
    std::size_t Capacity() const { return data_ ? data_.get_deleter().capacity : 0; }
    void Swap(Buffer &other) noexcept { data_.swap(other.data_); }

private:
    std::unique_ptr<unsigned char, FreeBuffer> data_;
};

// Bytes and entries counted in flight, given back exactly once: when released, or when its
// holder is done with it (written, failed, stopped or thrown through), unless it was handed
// on by a move.
class ArchivePipeline::Reservation
{
public:
    Reservation() = default;
    Reservation(ArchivePipeline &pipeline, std::size_t bytes, std::size_t entries) noexcept
        : pipeline_(&pipeline), bytes_(bytes), entries_(entries)
    { }
    ~Reservation() { Release(); }
    Reservation(Reservation &&other) noexcept { Swap(other); }
    Reservation &operator=(Reservation &&other) noexcept
    {
        Reservation gone(std::move(other));
        Swap(gone);
        return *this;
    }
    Reservation(const Reservation &) = delete;
    Reservation &operator=(const Reservation &) = delete;

    // Counts more bytes at once, without waiting for room: the entry that needs them is
    // being read already.
    void Grow(std::size_t bytes)
    {
        std::lock_guard<std::mutex> lock(pipeline_->mutex_);
        pipeline_->inFlight_ += bytes;
        pipeline_->peakInFlight_ = std::max(pipeline_->peakInFlight_, pipeline_->inFlight_);
        bytes_ += bytes;
    }
    // Takes over what other holds, to be given back with this.
    void Join(Reservation &&other) noexcept
    {
        if (!pipeline_)
            pipeline_ = other.pipeline_;
        bytes_ += other.bytes_;
        entries_ += other.entries_;
        other.Forget();
    }
    void Release()
    {
        if (!pipeline_)
            return;
        std::lock_guard<std::mutex> lock(pipeline_->mutex_);
        ReleaseLocked();
    }
    // The same with the pipeline's lock held.
    void ReleaseLocked() noexcept
    {
        if (!pipeline_)
            return;
        pipeline_->inFlight_ -= bytes_;
        pipeline_->entries_ -= entries_;
        pipeline_->progress_.notify_all();
        Forget();
    }

private:
    void Swap(Reservation &other) noexcept
    {
        std::swap(pipeline_, other.pipeline_);
        std::swap(bytes_, other.bytes_);
        std::swap(entries_, other.entries_);
    }
    void Forget() noexcept
    {
        pipeline_ = nullptr;
        bytes_ = 0;
        entries_ = 0;
    }

    ArchivePipeline *pipeline_ = nullptr;
    std::size_t bytes_ = 0;
    std::size_t entries_ = 0;
};

// One file's data on its way.
struct ArchivePipeline::Item
{
    EntryInfo info;
    Buffer input;
    std::size_t size = 0; // bytes read into input
    Buffer output;
    PreparedData prepared;
    bool chunk = false; // a piece of a large entry's data
    bool stored = false; // for a chunk: written as it is
    Buffer window; // for a chunk: the end of the chunk before it
    std::size_t windowSize = 0;
};

// What the chunks of a large entry sent so far leave for its end and for the next chunk.
struct ArchivePipeline::ChunkTrail
{
    std::uint32_t crc = 0;
    std::uint64_t total = 0;
    std::vector<unsigned char> window; // the end of the data so far

    void Count(const Item &item)
    {
        crc = Crc32(crc, item.input.Data(), item.size);
        total += item.size;
    }
    // Primes item with the end of the chunks before it, and keeps the end of its own data for
    // the next.
    void Prime(Item &item)
    {
        if (!window.empty()) {
            item.window = Buffer(window.size());
            std::memcpy(item.window.Data(), window.data(), window.size());
            item.windowSize = window.size();
        }
        // Only the end of a chunk can reach the next one's window.
        const std::size_t kept = std::min(item.size, kWindowSize);
        window.insert(window.end(), item.input.Data() + item.size - kept,
                      item.input.Data() + item.size);
        if (window.size() > kWindowSize)
            window.erase(window.begin(), window.end() - kWindowSize);
    }
};

// What a worker takes at a time: one entry, or a batch of small ones, written in order.
struct ArchivePipeline::Job
{
    // Counted in flight for the items; declared first, so that it is given back after their
    // buffers are freed.
    Reservation room;
    std::vector<Item> items;
    std::size_t bytes = 0; // read into the items
    bool compressed = false; // ready to be written
    bool broken = false; // compressing failed: the archive cannot be completed
};

// What one thread needs to compress: the one-shot compressors and the chunk stream, made
// when first used. Each worker holds one while it runs, and the pipeline one for what it
// compresses on its caller's side. Not thread-local, for the reason Deflater gives.
struct ArchivePipeline::Workspace
{
    Workspace() = default;
    ~Workspace()
    {
        if (chunkReady)
            deflateEnd(&chunk);
    }
    Workspace(const Workspace &) = delete;
    Workspace &operator=(const Workspace &) = delete;

    // Raw deflate at zip's default level for chunks of large entries, reset for each. Never
    // moved once made: zlib's state points back at its stream.
    z_stream &ChunkStream()
    {
        if (!chunkReady) {
            if (deflateInit2(&chunk, kDeflateLevel, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
                throw std::bad_alloc();
            chunkReady = true;
        } else if (deflateReset(&chunk) != Z_OK) {
            throw std::runtime_error("deflate");
        }
        return chunk;
    }

    Deflater deflater;
    z_stream chunk {};
    bool chunkReady = false;
};

// Workspaces that pipelines and workers are done with, kept for the next ones: their
// compressors cost more to make than an archive of a few small files takes to write, and a
// run may write several such archives at once. All are kept; one is made only when none is
// spare, so there are never more than were in use at once. Each is kept with the thread
// that gave it back, which gets it back first: a pipeline's caller then finds its own,
// likely still in its cache. Workers are new threads for each pipeline: they mostly take the
// one given back last.
struct ArchivePipeline::Spares
{
    std::mutex mutex;
    std::vector<std::pair<std::thread::id, std::unique_ptr<Workspace>>> kept;

    // Never destroyed: at the library's unload a thread may still be giving one back.
    static Spares &Get()
    {
        static Spares *spares = new Spares();
        return *spares;
    }
};

std::unique_ptr<ArchivePipeline::Workspace> ArchivePipeline::TakeWorkspace()
{
    Spares &spares = Spares::Get();
    {
        std::lock_guard<std::mutex> lock(spares.mutex);
        auto &kept = spares.kept;
        if (!kept.empty()) {
            const auto own = std::find_if(kept.begin(), kept.end(), [](const auto &spare) {
                return spare.first == std::this_thread::get_id();
            });
            if (own != kept.end())
                std::iter_swap(own, kept.end() - 1);
            std::unique_ptr<Workspace> space = std::move(kept.back().second);
            kept.pop_back();
            return space;
        }
    }
    return std::make_unique<Workspace>();
}

void ArchivePipeline::GiveWorkspace(std::unique_ptr<Workspace> space) noexcept
{
    if (!space)
        return;
    Spares &spares = Spares::Get();
    std::lock_guard<std::mutex> lock(spares.mutex);
    try {
        spares.kept.emplace_back(std::this_thread::get_id(), std::move(space));
    } catch (const std::bad_alloc &) {
        // No room to keep it: it is freed instead.
    }
}

// Taken when first needed, on the thread that compresses: the one that gave it back last
// gets it again.
ArchivePipeline::Workspace &ArchivePipeline::CallerSpace()
{
    if (!callerSpace_)
        callerSpace_ = TakeWorkspace();
    return *callerSpace_;
}

ArchivePipeline::ArchivePipeline(int fd, const PipelineLimits &limits)
    : fileSink_(std::make_unique<FileSink>(fd)), limits_(limits), writer_(*fileSink_)
{ }

ArchivePipeline::ArchivePipeline(OutputSink &sink, const PipelineLimits &limits)
    : limits_(limits), writer_(sink)
{ }

ArchivePipeline::~ArchivePipeline()
{
    StopWorkers();
    GiveWorkspace(std::move(callerSpace_));
}

std::size_t ArchivePipeline::PeakBytesInFlight() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return peakInFlight_;
}

std::size_t ArchivePipeline::BytesInFlight() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return inFlight_;
}

ArchivePipeline::Reservation ArchivePipeline::Reserve(std::size_t bytes, std::size_t maxEntries)
{
    std::unique_lock<std::mutex> lock(mutex_);
    const auto fits = [&] {
        return inFlight_ == 0
            || (inFlight_ + bytes <= limits_.bytesInFlight
                && entries_ < std::min(maxEntries, limits_.entriesInFlight));
    };
    if (!fits() && batch_) {
        // The batch being gathered holds room that only the workers can give back.
        lock.unlock();
        FlushBatch();
        lock.lock();
    }
    progress_.wait(lock, fits);
    inFlight_ += bytes;
    ++entries_;
    peakInFlight_ = std::max(peakInFlight_, inFlight_);
    return Reservation(*this, bytes, 1);
}

ArchivePipeline::AddResult ArchivePipeline::Add(const EntryInfo &info, ByteSource &source,
                                                std::uint64_t sizeHint)
{
    if (failed_)
        return AddResult::WriteFailed;
    if (info.name.empty() || info.name.size() > 0xffff)
        return AddResult::SourceFailed;
    if (sizeHint > limits_.wholeBufferLimit)
        return Stream(info, source);

    // One byte more than expected, so that a file that grew shows at once. The output
    // never needs more room than the input: data that would not shrink is stored.
    const std::size_t capacity = static_cast<std::size_t>(sizeHint) + 1;
    Reservation room = Reserve(2 * capacity, limits_.entriesInFlight);
    Item item;
    item.info = info;
    item.input = Buffer(capacity);
    switch (ReadWhole(source, item, room)) {
    case WholeRead::Complete:
        break;
    case WholeRead::SourceFailed:
        return AddResult::SourceFailed;
    case WholeRead::TooLarge: {
        // Grew past the limit while it was read: stream it, starting with the bytes read so
        // far. Their room is given back first, as the stream waits for room of its own; they
        // stay within the limit.
        room.Release();
        PrefixSource rest(item.input.Data(), item.size, source);
        return Stream(info, rest);
    }
    }
    AddToBatch(std::move(item), std::move(room));
    return AddResult::Added;
}

ArchivePipeline::WholeRead ArchivePipeline::ReadWhole(ByteSource &source, Item &item,
                                                      Reservation &room)
{
    for (;;) {
        if (item.size == item.input.Capacity()) {
            if (item.size > limits_.wholeBufferLimit)
                return WholeRead::TooLarge;
            GrowInput(item, room);
        }
        const std::int64_t n
            = source.Read(item.input.Data() + item.size, item.input.Capacity() - item.size);
        if (n < 0)
            return WholeRead::SourceFailed;
        if (n == 0)
            return WholeRead::Complete;
        item.size += static_cast<std::size_t>(n);
    }
}

void ArchivePipeline::GrowInput(Item &item, Reservation &room)
{
    const std::size_t capacity = item.input.Capacity();
    const std::size_t grown
        = std::min(std::max(capacity * 2, std::size_t {64} << 10), limits_.wholeBufferLimit + 1);
    Buffer bigger(grown);
    std::memcpy(bigger.Data(), item.input.Data(), item.size);
    item.input.Swap(bigger);
    room.Grow(2 * (grown - capacity));
}

void ArchivePipeline::AddToBatch(Item item, Reservation room)
{
    if (!batch_)
        batch_ = std::make_unique<Job>();
    const std::size_t size = item.size;
    batch_->items.push_back(std::move(item));
    batch_->bytes += size;
    batch_->room.Join(std::move(room));
    if (batch_->items.size() >= limits_.batchEntries || batch_->bytes >= limits_.batchBytes)
        FlushBatch();
}

ArchivePipeline::AddResult ArchivePipeline::Stream(const EntryInfo &info, ByteSource &source)
{
    // Nothing else touches the writer once the entries before this one are written.
    FlushBatch();
    WaitUntilWritten();
    if (failed_)
        return AddResult::WriteFailed;

    // The first chunk decides for the whole entry, as a media file's start tells what the
    // rest is like.
    Reservation room = Reserve(kChunkRoom, ChunksInFlight(limits_));
    Item first;
    first.input = TakeChunkBuffer();
    const std::int64_t n = ReadFull(source, first.input.Data(), kChunkSize);
    if (n < 0)
        return AddResult::SourceFailed;
    first.size = static_cast<std::size_t>(n);
    if (n > 0) {
        const bool deflate = DeflateStream(CallerSpace().deflater, info.compression,
                                           first.input.Data(), first.size);
        return StreamInChunks(info, source, std::move(first), std::move(room), deflate);
    }
    // Empty after all: stored, as every empty entry is.
    const AddResult result = writer_.AddPrepared(info, PreparedData());
    if (result == AddResult::WriteFailed)
        failed_ = true;
    return result;
}

ArchivePipeline::AddResult ArchivePipeline::StreamInChunks(const EntryInfo &info,
                                                           ByteSource &source, Item first,
                                                           Reservation room, bool deflate)
{
    // first holds the entry's first chunk (not empty), room its room in flight.
    const AddResult begun = writer_.BeginEntry(info);
    if (begun != AddResult::Added) {
        if (begun == AddResult::WriteFailed)
            failed_ = true;
        return begun;
    }
    try {
        return SendChunks(source, std::move(first), std::move(room), deflate);
    } catch (...) {
        // The entry is half written: the archive cannot be completed.
        WaitUntilWritten();
        failed_ = true;
        throw;
    }
}

ArchivePipeline::AddResult ArchivePipeline::SendChunks(ByteSource &source, Item item,
                                                       Reservation room, bool deflate)
{
    ChunkTrail trail;
    for (;;) {
        SendChunk(std::move(item), std::move(room), deflate, trail);
        room = Reserve(kChunkRoom, ChunksInFlight(limits_));
        item = Item();
        const std::int64_t n = ReadChunk(source, item);
        if (n <= 0) {
            room.Release();
            return EndChunks(n < 0, deflate, trail);
        }
        item.size = static_cast<std::size_t>(n);
    }
}

void ArchivePipeline::SendChunk(Item item, Reservation room, bool deflate, ChunkTrail &trail)
{
    trail.Count(item);
    item.chunk = true;
    item.stored = !deflate;
    if (deflate)
        trail.Prime(item);
    auto job = std::make_unique<Job>();
    job->room = std::move(room);
    job->bytes = item.size;
    job->items.push_back(std::move(item));
    Enqueue(std::move(job));
}

std::int64_t ArchivePipeline::ReadChunk(ByteSource &source, Item &item)
{
    item.input = TakeChunkBuffer();
    return failed_ ? 0 : ReadFull(source, item.input.Data(), kChunkSize);
}

ArchivePipeline::AddResult ArchivePipeline::EndChunks(bool sourceFailed, bool deflate,
                                                      const ChunkTrail &trail)
{
    WaitUntilWritten();
    if (failed_)
        return AddResult::WriteFailed;
    if (sourceFailed) { // drop what was written of it: the archive is as it was before
        const AddResult dropped = writer_.AbortEntry();
        if (dropped == AddResult::WriteFailed)
            failed_ = true;
        return dropped;
    }
    if ((deflate && !writer_.AppendData(kFinalBlock, sizeof kFinalBlock))
        || writer_.EndEntry(deflate, trail.crc, trail.total) != AddResult::Added) {
        failed_ = true;
        return AddResult::WriteFailed;
    }
    return AddResult::Added;
}

ArchivePipeline::Buffer ArchivePipeline::TakeChunkBuffer()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!chunkPool_.empty()) {
            Buffer buffer = std::move(chunkPool_.back());
            chunkPool_.pop_back();
            return buffer;
        }
    }
    return Buffer(kChunkSize);
}

bool ArchivePipeline::StartWorkers()
{
    if (threads_.empty() && limits_.workers > 0 && !stop_) {
        try {
            while (threads_.size() < limits_.workers)
                threads_.emplace_back([this] { WorkerLoop(); });
        } catch (const std::system_error &) {
            // Fewer threads, or none: the work is done all the same.
        }
    }
    return !threads_.empty();
}

void ArchivePipeline::FlushBatch(bool last)
{
    if (batch_)
        Enqueue(std::move(batch_), last);
}

void ArchivePipeline::Enqueue(std::unique_ptr<Job> job, bool last)
{
    // The last job of an archive that has not needed the workers yet is done here: the caller
    // waits for it anyway, and a small archive then costs no threads at all.
    if ((last && threads_.empty()) || !StartWorkers()) {
        // The job goes when this returns or throws, and gives its room back with it.
        for (Item &item : job->items)
            Compress(item, CallerSpace());
        Write(*job);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        uncompressed_.push_back(job.get());
        unwritten_.push_back(std::move(job));
    }
    workReady_.notify_one();
}

void ArchivePipeline::Compress(Item &item, Workspace &space)
{
    if (!item.chunk)
        CompressWhole(item, space);
    else if (item.stored)
        StoreChunk(item);
    else
        DeflateChunk(item, space);
}

void ArchivePipeline::StoreChunk(Item &item)
{
    item.prepared.data = item.input.Data();
    item.prepared.size = item.size;
}

void ArchivePipeline::DeflateChunk(Item &item, Workspace &space)
{
    z_stream &z = space.ChunkStream();
    if (item.windowSize > 0
        && deflateSetDictionary(&z, item.window.Data(), static_cast<uInt>(item.windowSize)) != Z_OK)
        throw std::runtime_error("deflate");
    // Room for the worst case, and the few bytes of the flush on top of it.
    const std::size_t room = deflateBound(&z, static_cast<uLong>(item.size)) + 64;
    item.output = Buffer(room);
    z.next_in = item.input.Data();
    z.avail_in = static_cast<uInt>(item.size);
    z.next_out = item.output.Data();
    z.avail_out = static_cast<uInt>(room);
    // A sync flush ends the chunk on a byte boundary without ending the stream.
    if (deflate(&z, Z_SYNC_FLUSH) != Z_OK || z.avail_in != 0 || z.avail_out == 0)
        throw std::runtime_error("deflate");
    item.prepared.data = item.output.Data();
    item.prepared.size = room - z.avail_out;
}

void ArchivePipeline::CompressWhole(Item &item, Workspace &space)
{
    const unsigned char *in = item.input.Data();
    const std::size_t size = item.size;
    // Stored unless deflate shrinks it.
    item.prepared.originalSize = size;
    item.prepared.crc = Crc32(0, in, size);
    item.prepared.data = in;
    item.prepared.size = size;
    item.prepared.deflated = false;
    const std::size_t room = WholeDeflateRoom(space.deflater, item.info.compression, in, size);
    if (room == 0)
        return;
    item.output = Buffer(room);
    const std::size_t n = space.deflater.Whole(kDeflateLevel, in, size, item.output.Data(), room);
    if (n == 0) {
        item.output = Buffer();
        return;
    }
    item.prepared.data = item.output.Data();
    item.prepared.size = n;
    item.prepared.deflated = true;
}

void ArchivePipeline::Write(Job &job)
{
    if (job.broken)
        failed_ = true;
    if (failed_)
        return;
    try {
        for (const Item &item : job.items) {
            if (item.chunk) {
                if (!writer_.AppendData(item.prepared.data, item.prepared.size))
                    failed_ = true;
            } else if (writer_.AddPrepared(item.info, item.prepared) != AddResult::Added) {
                failed_ = true;
                return;
            }
        }
    } catch (...) {
        failed_ = true;
    }
}

// The lock protocol. mutex_ guards the queues (unwritten_, uncompressed_), writing_, stop_,
// the counts in flight (inFlight_, entries_, peakInFlight_), chunkPool_ and a queued job's
// compressed flag. The rest of a job belongs to the one thread that has taken it (its
// worker while it compresses, the writer while it writes), and writer_ to one thread at a
// time: the worker holding writing_, or the caller once nothing is queued and nobody writes
// (after WaitUntilWritten; without workers the caller does everything).
// Workers wait on workReady_ for a job to compress or for stop_; the caller waits on
// progress_, for room (Reserve) or for the queue to run dry (WaitUntilWritten). Workers
// never wait on progress_, so the writer never waits for the caller; whatever gives back
// room or ends a round of writing notifies progress_.
// Entries are written in the order of the adds: only the head of unwritten_ is written, and
// only once compressed; a job compressed before the ones ahead of it stays queued until
// the writer reaches it. writing_ makes one worker the writer: another that finishes a job
// meanwhile marks it compressed and leaves it to that one.
// The writer lets go of the lock while it writes and while the job's buffers are freed
// (both may take long: the sink may block, large pages are unmapped), so that the other
// workers take and finish jobs and the caller queues more meanwhile. The job's room is
// given back only after its buffers are gone, so that whoever waits for room finds the
// memory free.
void ArchivePipeline::WriteReady(std::unique_lock<std::mutex> &lock)
{
    if (writing_)
        return; // that worker takes this job too when it comes to it
    writing_ = true;
    while (!unwritten_.empty() && unwritten_.front()->compressed) {
        std::unique_ptr<Job> job = std::move(unwritten_.front());
        unwritten_.pop_front();
        lock.unlock();
        Write(*job);
        lock.lock();
        KeepChunkBuffers(*job);
        Reservation room = std::move(job->room);
        lock.unlock();
        job.reset();
        lock.lock();
        room.ReleaseLocked();
    }
    writing_ = false;
    progress_.notify_all();
}

void ArchivePipeline::KeepChunkBuffers(Job &job)
{
    for (Item &item : job.items)
        if (item.chunk && chunkPool_.size() < ChunksInFlight(limits_) + 1)
            chunkPool_.push_back(std::move(item.input));
}

void ArchivePipeline::WorkerLoop()
{
    std::unique_ptr<Workspace> space; // taken for the first job, given back at the end
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        workReady_.wait(lock, [&] { return stop_ || !uncompressed_.empty(); });
        if (uncompressed_.empty())
            break;
        Job *job = uncompressed_.front();
        uncompressed_.pop_front();
        lock.unlock();
        try {
            if (!space)
                space = TakeWorkspace();
            for (Item &item : job->items)
                Compress(item, *space);
        } catch (...) {
            job->broken = true;
        }
        lock.lock();
        job->compressed = true;
        WriteReady(lock);
    }
    lock.unlock();
    GiveWorkspace(std::move(space));
}

void ArchivePipeline::WaitUntilWritten()
{
    std::unique_lock<std::mutex> lock(mutex_);
    progress_.wait(lock, [&] { return unwritten_.empty() && !writing_; });
}

void ArchivePipeline::StopWorkers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_ = true;
    }
    workReady_.notify_all();
    for (std::thread &t : threads_)
        t.join();
    threads_.clear();
}

bool ArchivePipeline::Finish()
{
    FlushBatch(true);
    WaitUntilWritten();
    StopWorkers();
    if (!failed_ && !writer_.Finish())
        failed_ = true;
    return !failed_;
}

} // namespace tamsorel
