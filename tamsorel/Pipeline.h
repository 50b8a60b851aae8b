#pragma once

// The archive's entries on every core the process may use. An add reads its file on the caller's
// thread, so a file that cannot be read fails its add at once and leaves nothing behind; worker
// threads then compress the data and write the entries in the order in which they were added. Files
// up to a limit are read whole and deflated in one call (Deflate.h), small ones handed over in
// batches. Larger files are read in 1 MiB chunks after everything before them has been written; the
// workers deflate the chunks in parallel (zlib, each chunk primed with the end of the one before,
// as pigz does), or, when the first chunk shows the data will not shrink, the caller stores it
// directly. Data that deflate would not shrink is stored. The bytes held in buffers at any time are
// bounded, whatever the sizes of the files.

#include "tamsorel/OutputSink.h"
#include "tamsorel/ZipWriter.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace tamsorel {

// The processors this process may run on: its affinity (taskset, start /affinity), else
// every processor there is; at least 1.
unsigned AvailableProcessors();

// Compression workers for that many processors when at most bytesInFlight are held in
// buffers: one per processor, but only as many as the budget gives a chunk to work on and
// one waiting each (more would only wait for room, and each costs its deflate state).
// At least 1.
unsigned WorkerCount(unsigned processors, std::size_t bytesInFlight);

struct PipelineLimits
{
    // Files up to this size are read whole and compressed in one call; larger ones stream.
    std::size_t wholeBufferLimit = std::size_t {32} << 20;
    // Bytes of input and output buffers in flight at most (one entry may exceed it alone).
    // Three archives may be in flight at once (two closing while the next is filled), and
    // the whole process stays under 256 MiB.
    std::size_t bytesInFlight = std::size_t {72} << 20;
    // Entries in flight at most: many small files need no deeper queue to keep the workers
    // busy, and each costs a little beyond its buffers.
    std::size_t entriesInFlight = 1024;
    // Small files travel to the workers in batches of up to this many entries and bytes,
    // so that the threads do not wake each other for every file.
    std::size_t batchEntries = 64;
    std::size_t batchBytes = std::size_t {1} << 20;
    // Threads that compress and write; 0 does everything on the caller's thread.
    unsigned workers = WorkerCount(AvailableProcessors(), bytesInFlight);
};

class ArchivePipeline
{
public:
    using AddResult = ZipWriter::AddResult;

    // Writes to fd from its start; the descriptor stays the caller's, and must stay open
    // until Finish has returned or the pipeline is destroyed.
    explicit ArchivePipeline(int fd, const PipelineLimits &limits = PipelineLimits());
    // Writes to the sink from its start, under the same terms.
    explicit ArchivePipeline(OutputSink &sink, const PipelineLimits &limits = PipelineLimits());
    ~ArchivePipeline();
    ArchivePipeline(const ArchivePipeline &) = delete;
    ArchivePipeline &operator=(const ArchivePipeline &) = delete;

    // Reads source to its end now. SourceFailed: nothing of the entry is or will be in the
    // archive. Added: it will be written, in order; a write failure on the way shows in a
    // later add and in Finish. WriteFailed: the archive is unusable. sizeHint is the size
    // the source is expected to have; the bytes actually read are stored.
    AddResult Add(const EntryInfo &info, ByteSource &source, std::uint64_t sizeHint);

    // Waits for every entry in flight, stops the workers and finishes the archive (central
    // directory, flush, sync). False when anything could not be written.
    bool Finish();

    bool Failed() const { return failed_.load(); }
    // The most bytes of buffers that were in flight at once, for checking the bound.
    std::size_t PeakBytesInFlight() const;
    // The bytes counted in flight now: none once Finish has returned, whatever failed.
    std::size_t BytesInFlight() const;

    class Buffer;

private:
    struct Item;
    struct Job;
    class Reservation;
    struct ChunkTrail;
    struct Workspace;
    struct Spares;
    enum class WholeRead { Complete, SourceFailed, TooLarge };

    // Reads a small file whole into item (its buffer and room grown as the file turns out
    // larger than expected).
    WholeRead ReadWhole(ByteSource &source, Item &item, Reservation &room);
    void GrowInput(Item &item, Reservation &room);
    // Puts a small entry read whole into the batch being gathered, with its room.
    void AddToBatch(Item item, Reservation room);
    AddResult Stream(const EntryInfo &info, ByteSource &source);
    // Deflates a large entry in chunks on the workers, each chunk primed with the end of the
    // one before it, so that their output joins into one deflate stream (as pigz does).
    // Stored data takes the same way, so that reading and writing overlap.
    AddResult StreamInChunks(const EntryInfo &info, ByteSource &source, Item first,
                             Reservation room, bool deflate);
    // Hands every chunk of a begun entry to the workers as it is read, then ends the entry.
    AddResult SendChunks(ByteSource &source, Item first, Reservation room, bool deflate);
    void SendChunk(Item item, Reservation room, bool deflate, ChunkTrail &trail);
    // The next chunk into item; 0 at the end (or when the archive has failed), -1 when the
    // source failed.
    std::int64_t ReadChunk(ByteSource &source, Item &item);
    // Once every chunk is written: ends the entry, or drops it when the source failed.
    AddResult EndChunks(bool sourceFailed, bool deflate, const ChunkTrail &trail);
    // Chunk buffers are kept for reuse: fresh pages would have to be mapped and cleared.
    Buffer TakeChunkBuffer();
    bool StartWorkers();
    // Hands the batch being gathered to the workers.
    // last: no more jobs follow; without workers started so far, it is done on this thread.
    void FlushBatch(bool last = false);
    void Enqueue(std::unique_ptr<Job> job, bool last = false);
    // Waits until one more entry of bytes fits within the bounds (at once when nothing is
    // in flight), and counts it in flight until the reservation is released.
    Reservation Reserve(std::size_t bytes, std::size_t maxEntries);
    void WaitUntilWritten();
    void StopWorkers();
    void WorkerLoop();
    static std::unique_ptr<Workspace> TakeWorkspace();
    Workspace &CallerSpace();
    static void GiveWorkspace(std::unique_ptr<Workspace> space) noexcept;
    static void Compress(Item &item, Workspace &space);
    static void StoreChunk(Item &item);
    static void DeflateChunk(Item &item, Workspace &space);
    static void CompressWhole(Item &item, Workspace &space);
    // Writes the jobs at the head of the queue that are ready; called with the lock held.
    void WriteReady(std::unique_lock<std::mutex> &lock);
    void Write(Job &job);
    // Keeps a written job's chunk buffers for reuse; called with the lock held.
    void KeepChunkBuffers(Job &job);

    std::unique_ptr<OutputSink> fileSink_; // when given a descriptor
    PipelineLimits limits_;
    ZipWriter writer_;
    std::atomic<bool> failed_ {false};

    mutable std::mutex mutex_;
    std::condition_variable workReady_; // a job to compress, or stop
    std::condition_variable progress_; // a job written, room freed
    std::deque<std::unique_ptr<Job>> unwritten_; // in the order of the adds
    std::deque<Job *> uncompressed_; // likewise
    bool writing_ = false; // a worker is writing the head of unwritten_
    bool stop_ = false;
    std::size_t inFlight_ = 0;
    std::size_t entries_ = 0; // entries read and not yet written
    std::size_t peakInFlight_ = 0;
    std::unique_ptr<Job> batch_; // small entries read, not yet handed over
    std::vector<Buffer> chunkPool_;
    std::unique_ptr<Workspace> callerSpace_; // for compressing on the caller's side
    std::vector<std::thread> threads_;
};

} // namespace tamsorel
