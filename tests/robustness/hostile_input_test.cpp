// Hostile input: every cut of the metadata of five varied streams, and seeded
// damage to their metadata, run through both classes of the built module.
// Each case either fails with a failure code or succeeds consistently, and
// what it writes reads back with nothing but the tag changed.
#include "tests/robustness/case_monitor.h"
#include "tests/robustness/exercise.h"
#include "tests/robustness/figures.h"
#include "tests/robustness/mutations.h"
#include "tests/robustness/varied_fixtures.h"
#include "tests/support/flac_layout.h"
#include "tests/thumbnail/recording_photo_provider.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {

constexpr int kMutationBatches = 8;
// (The sanitizer build, whose instrumented code runs slower, tries fewer.)
#ifndef QUILLBROOK_MUTATIONS_PER_BATCH
#define QUILLBROOK_MUTATIONS_PER_BATCH 5000
#endif
constexpr int kMutationsPerBatch = QUILLBROOK_MUTATIONS_PER_BATCH;

struct HostileRun {
    explicit HostileRun(const std::string& name) : figures(name) { CaseMonitor::Install(name); }

    void Count(const HostileOutcome& outcome)
    {
        figures.Add("handler_initialized", outcome.handlerInitialized);
        figures.Add("thumbnail_initialized", outcome.thumbnailInitialized);
        figures.Add("committed_and_read_back", outcome.committed);
        figures.Add("data_lost", outcome.dataLost);
    }

    void Finish()
    {
        EXPECT_TRUE(objects.CanUnload()) << "every object of the module was released";
        figures.Set("crashes", 0);
        figures.Set("hangs", 0);
        figures.Finish();
    }

    Figures figures;
    RecordingPhotoProvider photoProvider;
    ServerObjects objects;
};

class Truncation : public testing::TestWithParam<int> {};

TEST_P(Truncation, EveryCutOfTheMetadataFailsOrReadsConsistently)
{
    const NamedFixture& fixture = VariedFixtures()[static_cast<std::size_t>(GetParam())];
    HostileRun run("hostile-truncation-" + fixture.name);
    ASSERT_EQ(run.photoProvider.RegistrationResult(), S_OK);
    const std::size_t metadataEnd = ParseFlacLayout(fixture.bytes).audioOffset;
    for (std::size_t length = 0; length <= metadataEnd; ++length) {
        const std::string name = fixture.name + " cut at " + std::to_string(length);
        SCOPED_TRACE(name);
        CaseScope scope(name);
        const Bytes cut(fixture.bytes.begin(), fixture.bytes.begin() + static_cast<std::ptrdiff_t>(length));
        run.Count(ExerciseStream(run.objects, cut, length % 2 == 0));
        run.figures.Add("truncation_cases", 1);
        if (HasFailure()) {
            break; // one case is enough to show; the rest would repeat it
        }
    }
    EXPECT_GE(run.figures.Get("handler_initialized"), 1) << "the whole metadata reads";
    run.Finish();
}

INSTANTIATE_TEST_SUITE_P(Fixtures, Truncation, testing::Range(0, 5), [](const testing::TestParamInfo<int>& info) {
    std::string name = VariedFixtures()[static_cast<std::size_t>(info.param)].name;
    std::replace(name.begin(), name.end(), '-', '_');
    return name;
});

class Mutation : public testing::TestWithParam<int> {};

TEST_P(Mutation, SeededDamageFailsOrReadsConsistently)
{
    const int batch = GetParam();
    HostileRun run("hostile-mutation-batch" + std::to_string(batch));
    ASSERT_EQ(run.photoProvider.RegistrationResult(), S_OK);
    const auto& fixtures = VariedFixtures();
    for (int i = 0; i < kMutationsPerBatch; ++i) {
        const std::uint64_t seed = static_cast<std::uint64_t>(batch) * 1000000 + static_cast<std::uint64_t>(i);
        const NamedFixture& fixture = fixtures[seed % fixtures.size()];
        const ::Mutation mutation = MutateMetadata(fixture.bytes, seed);
        const std::string name = "seed " + std::to_string(seed) + " on " + fixture.name + ": " + mutation.description;
        SCOPED_TRACE(name);
        CaseScope scope(name);
        run.Count(ExerciseStream(run.objects, mutation.bytes, seed % 3 == 0));
        run.figures.Add("mutation_cases", 1);
        if (HasFailure()) {
            break;
        }
    }
    EXPECT_EQ(run.figures.Get("mutation_cases"), kMutationsPerBatch);
    run.Finish();
}

INSTANTIATE_TEST_SUITE_P(Batches, Mutation, testing::Range(0, kMutationBatches));

// The reports themselves, run by CTest with QUILLBROOK_ROBUSTNESS_SELF_TEST
// set to "crash" or "hang", which expects the report naming the case.
TEST(CaseMonitorSelfTest, ReportsADeliberateCrashOrHangWithItsCase)
{
    char mode[16] = {};
    if (GetEnvironmentVariableA("QUILLBROOK_ROBUSTNESS_SELF_TEST", mode, sizeof(mode)) == 0) {
        GTEST_SKIP() << "run by the robustness_reports_* tests";
    }
    CaseMonitor::Install("", 1000);
    CaseScope scope(std::string("deliberate ") + mode);
    if (std::string(mode) == "crash") {
        volatile int* nowhere = nullptr;
        *nowhere = 1;
    } else {
        Sleep(10000);
    }
    ADD_FAILURE() << "the monitor did not end the process";
}

} // namespace
