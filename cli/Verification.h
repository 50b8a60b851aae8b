#pragma once

#include "cli/TerminalReport.h"
#include "engine/RunReport.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <ostream>

namespace kelvane::batch {

inline constexpr const char *kVerifyFailedCaption = "Archive verification failed";

struct VerifyOutcome
{
    std::size_t outputs = 0; // archives and copies the run placed
    std::size_t archives = 0; // archives read back and found sound
    std::uint64_t entries = 0; // their entries
    std::size_t copies = 0; // copies found equal to their sources
    std::size_t failed = 0;
    bool stopped = false;
};

// Reads every archive and copy the run placed back from the storage (the run must have
// kept its sources: RunReport::keepSources). An archive must hold exactly the files the
// run added to it, in order, each with the size its source has, and every entry must
// inflate to the CRC-32 and sizes of its headers; a copy must equal its source. Each
// failure is written to err at once, whatever the style; the progress and the closing
// count as the style says. Nothing is written to, moved or removed. stop ends it early.
VerifyOutcome VerifyOutputs(const RunReport &report, std::ostream &err, ProgressStyle style,
                            const std::atomic<bool> &stop);

} // namespace kelvane::batch
