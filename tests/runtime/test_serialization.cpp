// FMU state images on the test model: the round trip restores everything,
// the size follows each state, and images that are truncated, corrupted or
// well-formed but wrong are refused with a Warning while the receiving state
// stays as it was and no memory is lost.
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "driver_fixture.h"
#include "fmu_state.h"
#include "tpl.h"

namespace {

const fmi2ValueReference kInput0 = ref(5, 0);
const fmi2ValueReference kString0 = ref(8, 0);
const fmi2ValueReference kString1 = ref(8, 1);

void model(FakeCall& f) {
    f.outputs[0] = f.inputs[0] + f.states[0];
    f.derivatives[0] = 1;
    f.derivatives[1] = 0;
}

class SerializationTest : public DriverTest {
protected:
    void SetUp() override {
        DriverTest::SetUp();
        fake().body = model;
        ASSERT_EQ(api().SetupExperiment(c(), fmi2False, 0, 0.0, fmi2False, 0), fmi2OK);
        ASSERT_EQ(api().EnterInitializationMode(c()), fmi2OK);
        ASSERT_EQ(api().ExitInitializationMode(c()), fmi2OK);
    }
    void TearDown() override {
        for (fmi2FMUstate& s : states_) api().FreeFMUstate(c(), &s);
        DriverTest::TearDown();
    }
    fmi2Component c() { return component_; }
    ModelInstance* in(fmi2FMUstate s) { return static_cast<ModelInstance*>(s); }
    fmi2FMUstate& newState() {
        states_.push_back(nullptr);
        return states_.back();
    }
    void setInput(double v) { ASSERT_EQ(api().SetReal(c(), &kInput0, 1, &v), fmi2OK); }
    void setText(fmi2ValueReference vr, const std::string& text) {
        fmi2String s = text.c_str();
        ASSERT_EQ(api().SetString(c(), &vr, 1, &s), fmi2OK);
    }
    std::vector<char> serialize(fmi2FMUstate state) {
        size_t size = 0;
        EXPECT_EQ(api().SerializedFMUstateSize(c(), state, &size), fmi2OK);
        std::vector<char> image(size);
        EXPECT_EQ(api().SerializeFMUstate(c(), state, image.data(), size), fmi2OK);
        return image;
    }
    std::string last() {
        if (host().log.empty()) return "<none>";
        const LogRecord& r = host().log.back();
        return std::string(statusName(r.status)) + "|" + r.message;
    }

    std::deque<fmi2FMUstate> states_{}; // references stay valid as states are added
};

// Everything of a state that an image carries, for before/after comparisons.
std::string contents(ModelInstance* s) {
    std::string out;
    auto add = [&](const void* p, size_t n) { out.append(static_cast<const char*>(p), n); };
    add(s->x, s->nx * sizeof(double));
    add(s->u, s->nu * sizeof(double));
    add(s->p, s->np * sizeof(double));
    for (uint64_t i = 0; i < s->nstr; ++i) out += std::string(s->strings[i]) + '|';
    add(&s->mode, sizeof s->mode);
    add(&s->time, sizeof s->time);
    add(s->flags, kFlagCount * sizeof(ModelFlags));
    // The block without its pointers, which each record points at its own storage.
    ModelData d = *s->modelData;
    d.timeData = nullptr;
    d.flags = nullptr;
    d.delays[0].times = nullptr;
    d.delays[0].values = nullptr;
    memset(d.ddVectors, 0, sizeof d.ddVectors);
    d.ddOut = nullptr;
    memset(d.stringSlotTable, 0, sizeof d.stringSlotTable);
    add(&d, sizeof d);
    add(s->modelData->delays[0].times, 2 * sizeof(double) * static_cast<size_t>(s->modelData->delays[0].size));
    return out;
}

TEST_F(SerializationTest, RoundTripRestoresEverythingIntoTheInstance) {
    setInput(2.5);
    setText(kString1, "second text");
    md()->delays[0].times[7] = 3.5;
    md()->delays[0].values[7] = -3.5;
    md()->delays[0].position = 7;
    md()->eventTime = 0.25;
    fmi2FMUstate& saved = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &saved), fmi2OK);
    const std::vector<char> image = serialize(saved);
    ASSERT_GT(image.size(), 2 * sizeof(double) * static_cast<size_t>(Buffersize) + sizeof(ModelData));
    uint32_t length = 0;
    memcpy(&length, image.data() + 4, 4);
    EXPECT_EQ(length, image.size()) << "the image's length field is its size";

    fmi2FMUstate& loaded = newState();
    ASSERT_EQ(api().DeSerializeFMUstate(c(), image.data(), image.size(), &loaded), fmi2OK);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(in(loaded)->isStateCopy, 1);
    EXPECT_TRUE(contents(in(loaded)) == contents(in(saved)));

    // Change the instance, then restore from the image.
    setInput(-1);
    setText(kString1, "changed");
    fmi2EventInfo info{};
    ASSERT_EQ(api().NewDiscreteStates(c(), &info), fmi2OK);
    ASSERT_EQ(api().EnterContinuousTimeMode(c()), fmi2OK);
    md()->delays[0].times[7] = 0;
    ASSERT_EQ(api().SetFMUstate(c(), loaded), fmi2OK);
    EXPECT_EQ(instance()->mode, modeEvent);
    EXPECT_EQ(instance()->u[0], 2.5);
    EXPECT_STREQ(instance()->strings[1], "second text");
    EXPECT_EQ(md()->delays[0].times[7], 3.5);
    EXPECT_EQ(md()->delays[0].values[7], -3.5);
    EXPECT_EQ(md()->delays[0].position, 7u);
    EXPECT_EQ(md()->eventTime, 0.25);
    EXPECT_EQ(md()->timeData, instance()->timeData);
    EXPECT_EQ(md()->flags, instance()->flags);
}

// The pointers of the block (shared blocks, delay storage, the slot table in
// use) differ from record to record; images carry them as zero.
TEST_F(SerializationTest, ImagesOfOneStateAreAlikeWhateverRecordHoldsIt) {
    md()->stringSlotTable[1] = md()->stringSlots[1];
    fmi2FMUstate& first = newState();
    fmi2FMUstate& second = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &first), fmi2OK);
    ASSERT_EQ(api().GetFMUstate(c(), &second), fmi2OK);
    const std::vector<char> image = serialize(first);
    EXPECT_TRUE(serialize(second) == image);
    fmi2FMUstate& loaded = newState();
    ASSERT_EQ(api().DeSerializeFMUstate(c(), image.data(), image.size(), &loaded), fmi2OK);
    EXPECT_TRUE(serialize(loaded) == image);
    // Writing an image leaves the state its own addresses.
    EXPECT_EQ(in(first)->modelData->timeData, in(first)->timeData);
    EXPECT_EQ(in(first)->modelData->stringSlotTable[1], in(first)->modelData->stringSlots[1]);
    ASSERT_EQ(api().SetFMUstate(c(), first), fmi2OK);
    EXPECT_EQ(md()->delays[0].times + md()->delays[0].size, md()->delays[0].values);
}

TEST_F(SerializationTest, SizeFollowsEachStateAndTheBufferMustHoldIt) {
    fmi2FMUstate& shortText = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &shortText), fmi2OK);
    setText(kString0, std::string(400, 'x'));
    fmi2FMUstate& longText = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &longText), fmi2OK);
    size_t a = 0, b = 0;
    ASSERT_EQ(api().SerializedFMUstateSize(c(), shortText, &a), fmi2OK);
    ASSERT_EQ(api().SerializedFMUstateSize(c(), longText, &b), fmi2OK);
    EXPECT_EQ(b - a, 400 - strlen("first start text"));

    std::vector<char> buffer(b);
    host().clearLog();
    EXPECT_EQ(api().SerializeFMUstate(c(), longText, buffer.data(), b - 1), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SerializeFMUstate: tpl_dump failed");
    EXPECT_EQ(api().SerializeFMUstate(c(), longText, buffer.data(), b), fmi2OK);

    EXPECT_EQ(api().SerializedFMUstateSize(c(), shortText, nullptr), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SerializedFMUstateSize: size == NULL");
    EXPECT_EQ(api().SerializeFMUstate(c(), nullptr, buffer.data(), b), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SerializeFMUstate: FMUstate == NULL");
    EXPECT_EQ(api().SerializeFMUstate(c(), longText, nullptr, b), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2SerializeFMUstate: serializedState == NULL");
    fmi2FMUstate none = nullptr;
    EXPECT_EQ(api().DeSerializeFMUstate(c(), nullptr, b, &none), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DeSerializeFMUstate: serializedState == NULL");
    EXPECT_EQ(api().DeSerializeFMUstate(c(), buffer.data(), b, nullptr), fmi2Warning);
    EXPECT_EQ(last(), "Warning|fmi2DeSerializeFMUstate: FMUstate == NULL");
}

TEST_F(SerializationTest, TruncatedAndCorruptedImagesLeaveTheStateUntouched) {
    setInput(4);
    fmi2FMUstate& source = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &source), fmi2OK);
    const std::vector<char> image = serialize(source);
    setInput(-7);
    fmi2FMUstate& target = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &target), fmi2OK);
    const std::string before = contents(in(target));
    const long live = TestHost::allocator.live;

    const size_t n = image.size();
    for (size_t length : {size_t(0), size_t(1), size_t(8), size_t(9), size_t(40), n / 2, n - 9, n - 1}) {
        host().clearLog();
        EXPECT_EQ(api().DeSerializeFMUstate(c(), image.data(), length, &target), fmi2Warning) << length;
        EXPECT_EQ(last(), "Warning|fmi2DeSerializeFMUstate: tpl_load failed") << length;
    }
    // Every byte of the header and the small items, and of the ModelData
    // block's length, flipped in turn: refused, or read as other values.
    std::vector<size_t> positions;
    for (size_t i = 0; i < 400; ++i) positions.push_back(i);
    uint32_t blockSize = sizeof(ModelData);
    const char* found = static_cast<const char*>(memmem(image.data() + 100, n - 100, &blockSize, 4));
    ASSERT_NE(found, nullptr);
    for (size_t i = 0; i < 4; ++i) positions.push_back(static_cast<size_t>(found - image.data()) + i);
    int refused = 0;
    for (size_t position : positions) {
        std::vector<char> bad = image;
        bad[position] = static_cast<char>(bad[position] ^ 0x5A);
        const fmi2Status status = api().DeSerializeFMUstate(c(), bad.data(), bad.size(), &target);
        ASSERT_TRUE(status == fmi2OK || status == fmi2Warning) << position;
        if (status == fmi2Warning) {
            ++refused;
            ASSERT_TRUE(contents(in(target)) == before) << "refused image changed the state, byte " << position;
        } else {
            // A changed value: put the target back for the next round.
            ASSERT_EQ(api().GetFMUstate(c(), &target), fmi2OK);
        }
    }
    EXPECT_GT(refused, 100);
    EXPECT_EQ(TestHost::allocator.live, live) << "nothing is left behind";

    fmi2FMUstate fresh = nullptr;
    EXPECT_EQ(api().DeSerializeFMUstate(c(), image.data(), n - 1, &fresh), fmi2Warning);
    EXPECT_EQ(fresh, nullptr) << "a refused image hands out no state";
    EXPECT_EQ(TestHost::allocator.live, live);
}

// Images that the typed pack library accepts but that do not describe a state
// of this model: written with the state's own map, one element changed.
class CraftedImages : public SerializationTest {
protected:
    std::vector<char> craft(ModelInstance* s, uint32_t blockSize) {
        std::vector<double> scratch(2 * static_cast<size_t>(Buffersize));
        memcpy(scratch.data(), s->modelData->delays[0].times, scratch.size() * sizeof(double));
        TplBuffer block{s->modelData, blockSize};
        auto count = [](uint64_t k) { return static_cast<int>(k + 1); };
        TplNode* map = tpl_map("ifif#f#f#f#f#f#f#f#f#f#s#fiiiiiiiiiiiUfiS(fffff)S(iiiiiiiiiiiii)Bf#",
                               &s->toleranceDefined, &s->tolerance, &s->loggingOn, s->x, count(s->nx), s->xdot,
                               count(s->nx), s->p, count(s->np), s->u, count(s->nu), s->y, count(s->ny), s->w,
                               count(s->nw), s->eventIndicators, count(s->ni), s->nominals, count(s->nx),
                               s->extraVars1, count(s->nExtra1), s->extraVars2, count(s->nExtra2), s->strings,
                               count(s->nstr), &s->time, &s->computedLevel, &s->mode, &s->terminatedByModel,
                               &s->resultGeneration, &s->dirty, &s->eventIterationPending, &s->linearizationDirty,
                               &s->directionalDerivativeActive, &s->inputsChanged, &s->firstEventCall,
                               &s->eventUpdateStarted, &s->stepCounter, &s->nextOutputTime, &s->perturbByState,
                               s->timeData, s->flags, &block, scratch.data(), static_cast<int>(scratch.size()));
        EXPECT_NE(map, nullptr);
        std::vector<char> image;
        size_t n = 0;
        if (map && tpl_pack(map, 0) == 0 && tpl_dump(map, TPL_MODE_SIZE_ONLY, &n) == 0) {
            image.resize(n);
            EXPECT_EQ(tpl_dump(map, TPL_MODE_MEMORY | TPL_MODE_PREALLOCATED, image.data(), n), 0);
        }
        if (map) tpl_release(map);
        return image;
    }
    void expectRefused(const std::vector<char>& image, fmi2FMUstate target, const std::string& what) {
        const std::string before = contents(in(target));
        host().clearLog();
        EXPECT_EQ(api().DeSerializeFMUstate(c(), image.data(), image.size(), &target), fmi2Warning) << what;
        EXPECT_EQ(last(), "Warning|fmi2DeSerializeFMUstate: tpl_unpack failed") << what;
        EXPECT_TRUE(contents(in(target)) == before) << what;
    }
};

TEST_F(CraftedImages, WrongContentsAreRefused) {
    fmi2FMUstate& source = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &source), fmi2OK);
    setInput(9);
    fmi2FMUstate& target = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &target), fmi2OK);
    ModelInstance* s = in(source);
    const long live = TestHost::allocator.live;

    expectRefused(craft(s, sizeof(ModelData) - 8), target, "short ModelData block");
    expectRefused(craft(s, 0), target, "no ModelData block");
    s->mode = 2;
    expectRefused(craft(s, sizeof(ModelData)), target, "mode 2");
    s->mode = modeEvent;
    s->resultGeneration = 1;
    expectRefused(craft(s, sizeof(ModelData)), target, "result generation");
    s->resultGeneration = 0;
    s->modelData->delays[0].position = static_cast<uint64_t>(Buffersize);
    expectRefused(craft(s, sizeof(ModelData)), target, "delay position");
    s->modelData->delays[0].position = 0;
    EXPECT_EQ(TestHost::allocator.live, live);

    // Pointers and counts of the writer are never used.
    s->modelData->blockProfileTimerCount = 1000;
    s->modelData->timeData = reinterpret_cast<ModelTimeData*>(0x10);
    std::vector<char> image = craft(s, sizeof(ModelData));
    s->modelData->blockProfileTimerCount = 0;
    s->modelData->timeData = s->timeData;
    ASSERT_EQ(api().DeSerializeFMUstate(c(), image.data(), image.size(), &target), fmi2OK);
    EXPECT_EQ(in(target)->modelData->blockProfileTimerCount, 0);
    EXPECT_EQ(in(target)->modelData->timeData, in(target)->timeData);
    EXPECT_EQ(in(target)->modelData->delays[0].size, Buffersize);
    EXPECT_NE(in(target)->modelData->delays[0].times, s->modelData->delays[0].times);
}

TEST_F(CraftedImages, LongTextsAreCutToTheirSlots) {
    fmi2FMUstate& source = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &source), fmi2OK);
    ModelInstance* s = in(source);
    std::string text(700, 'a');
    for (size_t i = 0; i < text.size(); ++i) text[i] = static_cast<char>('a' + i % 26);
    char* slot = s->strings[0];
    s->strings[0] = &text[0];
    const std::vector<char> image = craft(s, sizeof(ModelData));
    s->strings[0] = slot;

    fmi2FMUstate& loaded = newState();
    ASSERT_EQ(api().DeSerializeFMUstate(c(), image.data(), image.size(), &loaded), fmi2OK);
    EXPECT_EQ(std::string(in(loaded)->strings[0]), text.substr(0, 500));
    ASSERT_EQ(api().SetFMUstate(c(), loaded), fmi2OK);
    fmi2String value = nullptr;
    ASSERT_EQ(api().GetString(c(), &kString0, 1, &value), fmi2OK);
    EXPECT_EQ(std::string(value), text.substr(0, 500));
}

TEST_F(SerializationTest, EveryFailedAllocationOfADeserializationEndsCleanly) {
    fmi2FMUstate& source = newState();
    ASSERT_EQ(api().GetFMUstate(c(), &source), fmi2OK);
    const std::vector<char> image = serialize(source);
    const long live = TestHost::allocator.live;
    for (long n = 1;; ++n) {
        ASSERT_LT(n, 100) << "the deserialization never succeeded";
        fmi2FMUstate loaded = nullptr;
        host().clearLog();
        TestHost::allocator.failAt = n;
        const fmi2Status status = api().DeSerializeFMUstate(c(), image.data(), image.size(), &loaded);
        const bool failed = TestHost::allocator.failed > 0;
        TestHost::allocator.failAt = 0;
        TestHost::allocator.failed = 0;
        if (!failed) {
            ASSERT_EQ(status, fmi2OK);
            api().FreeFMUstate(c(), &loaded);
            break;
        }
        EXPECT_EQ(status, fmi2Error) << n;
        EXPECT_EQ(last(), "Error|fmi2DeSerializeFMUstate: out of memory") << n;
        EXPECT_EQ(loaded, nullptr) << n;
        EXPECT_EQ(TestHost::allocator.live, live) << n;
        EXPECT_NE(instance()->mode, modeTerminated) << "a failed deserialization leaves the instance alone";
    }
}

} // namespace
