// The reader on zip64 archives: more than 65,535 entries, entries and offsets past 4 GiB.
// Written to memory by the back end's pipeline (blocks of zeros take no room) and read
// from there block by block, as from a file.

#include "tests/tamsorel/LongTestSupport.h"
#include "tests/tamsorel/SparseSink.h"
#include "verify/ZipCheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

namespace {

using tamsorel::test::kFourGiB;
using tamsorel::test::SparseSink;
using tamsorel::test::StringSource;
using tamsorel::test::ZeroSource;

std::string SmallName(std::uint64_t i)
{
    char name[32];
    std::snprintf(name, sizeof name, "n%05d.txt", static_cast<int>(i));
    return name;
}

class SinkInput : public kelvane::verify::BlockInput
{
public:
    explicit SinkInput(const SparseSink &sink) : sink_(sink) { }
    std::uint64_t Size() const override { return sink_.Size(); }
    std::int64_t ReadBlock(std::uint64_t offset, unsigned char *buffer, std::string &) override
    {
        const auto n = static_cast<std::size_t>(
            std::min<std::uint64_t>(kelvane::verify::kBlockSize, sink_.Size() - offset));
        return sink_.ReadAt(offset, buffer, n) ? static_cast<std::int64_t>(n) : -1;
    }

private:
    const SparseSink &sink_;
};

TEST(Zip64Test, SeventyThousandEntriesAndAStoredEntryPast4GiB)
{
    constexpr int kSmall = 70000;
    SparseSink sink;
    {
        tamsorel::ArchivePipeline pipeline(sink);
        tamsorel::EntryInfo info;
        info.compression = tamsorel::Compression::Store;
        info.name = "zeros.bin";
        ZeroSource zeros(kFourGiB + 1);
        ASSERT_EQ(pipeline.Add(info, zeros, kFourGiB + 1),
                  tamsorel::ArchivePipeline::AddResult::Added);
        info.compression = tamsorel::Compression::Auto;
        for (int i = 0; i < kSmall; ++i) {
            info.name = SmallName(static_cast<std::uint64_t>(i));
            StringSource text("entry " + std::to_string(i));
            ASSERT_EQ(pipeline.Add(info, text, 12), tamsorel::ArchivePipeline::AddResult::Added);
        }
        ASSERT_TRUE(pipeline.Finish());
    }

    SinkInput input(sink);
    std::uint64_t seen = 0;
    bool namesInOrder = true;
    const auto check = [&](const kelvane::verify::EntryFacts &entry) {
        namesInOrder = namesInOrder
            && (entry.index == 0 ? entry.name == "zeros.bin" && entry.size == kFourGiB + 1
                                 : entry.name == SmallName(entry.index - 1));
        ++seen;
        return std::string();
    };
    const kelvane::verify::ZipCheckResult result = kelvane::verify::CheckZip(input, check, nullptr);
    EXPECT_TRUE(result.ok) << result.problem;
    EXPECT_EQ(result.entries, kSmall + 1u);
    EXPECT_EQ(seen, kSmall + 1u);
    EXPECT_TRUE(namesInOrder);
}

} // namespace
