// The vantir3 program, run as a user runs it: exit statuses and messages
// for bad input, the demo's picture, the real survey files, parallel runs
// against one worker, and batches with a broken file.
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tests/support/test_data.h"
#include "vantir3_survey/survey.h"

namespace {

struct Result {
    int status = -1;
    std::string output;  // standard output and error
};

std::string Quote(const std::string& s) {
    std::string q = "'";
    for (char c : s) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

#ifndef VANTIR3_CLI
#define VANTIR3_CLI ""  // the program is not built: every test skips
#endif

Result RunCli(const std::vector<std::string>& args) {
    std::string command = Quote(VANTIR3_CLI);
    for (const std::string& a : args) command += " " + Quote(a);
    command += " 2>&1";
    Result r;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) return r;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) r.output.append(buf, n);
    const int status = ::pclose(pipe);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return r;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}
void WriteFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
bool Exists(const std::string& path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

// A fresh folder for one test.
class Cli : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::string(VANTIR3_CLI).empty()) GTEST_SKIP() << "the program is not built";
        char name[] = "/tmp/vantir3_cli_XXXXXX";
        ASSERT_NE(::mkdtemp(name), nullptr);
        dir_ = name;
    }
    void TearDown() override {
        if (!dir_.empty()) std::system(("rm -rf " + Quote(dir_)).c_str());
    }
    std::string Path(const std::string& name) const { return dir_ + "/" + name; }
    // The sample survey written as a file.
    std::string Synth(const std::string& name, int seed = 1) {
        const Result r = RunCli({"synth", "-o", Path(name), "--seed", std::to_string(seed)});
        EXPECT_EQ(r.status, 0) << r.output;
        return Path(name);
    }
    std::string dir_;
};

// Width and height from a PNG's IHDR chunk.
std::pair<int, int> PngSize(const std::string& bytes) {
    if (bytes.size() < 24 || bytes.compare(1, 3, "PNG") != 0) return {0, 0};
    auto be = [&](size_t at) {
        return (static_cast<unsigned char>(bytes[at]) << 24) | (static_cast<unsigned char>(bytes[at + 1]) << 16) |
               (static_cast<unsigned char>(bytes[at + 2]) << 8) | static_cast<unsigned char>(bytes[at + 3]);
    };
    return {be(16), be(20)};
}

TEST_F(Cli, BadInputGivesOneClearMessageAndAStatus) {
    const std::string good = Synth("good.DZT");
    const std::string original = ReadFile(good);
    WriteFile(Path("short.DZT"), original.substr(0, 700));  // the header cut short
    WriteFile(Path("label.sgy"), original);  // DZT bytes under a SEG-Y name
    const std::string out = Path("out.DZT");
    struct Case {
        std::vector<std::string> args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {{"process", good, "-s", "foo", "-o", out}, 2, "unknown step 'foo'"},
        {{"process", good, "-s", "agc:MAXGN@=40000", "-o", out}, 2,
         "step 'agc:MAXGN@=40000': MAXGN@=40000 refused: Maximum Gain (MAXGN@) takes 1 to 32767 at a resolution of 1"},
        {{"process", good, "-s", "agc:WINDOW=1.55", "-o", out}, 2, "WINDOW=1.55 refused: Window Width (WINDOW) takes 0.1 to 1000.0 at a resolution of 0.1"},
        {{"process", good, "-s", "dewow:WINDOW=abc", "-o", out}, 2, "WINDOW value 'abc' is not a number"},
        {{"process", good, "-s", "agc:GAIN=2", "-o", out}, 2, "no parameter 'GAIN' (parameters: WINDOW, MAXGN@)"},
        {{"process", good, "-s", "bgsub:1", "-o", out}, 2, "takes 2 to 32767"},
        {{"process", good, "-s", "dewow"}, 2, "nothing to write"},
        {{"process", good, "-s", "dewow", "--bogus", "-o", out}, 2, "--bogus"},
        {{"process", Path("missing.DZT"), "-s", "dewow", "-o", out}, 1, "missing.DZT"},
        {{"process", Path("short.DZT"), "-s", "dewow", "-o", out}, 1, "short.DZT"},
        {{"info", Path("label.sgy")}, 1, "label.sgy"},
        {{"info", Path("")}, 1, "is a folder, not a survey file"},
        {{"info", Path("missing.tif")}, 1, "missing.tif: cannot open"},
        {{"process", good, "-s", "dewow", "-o", Path("no/such/out.DZT")}, 1, "does not exist"},
        {{"process", good, "-s", "dewow", "-o", good}, 1, "is the input file"},
        {{"process", good, "-s", "dewow", "--channel", "3", "-o", out}, 1, "channel 3 does not exist"},
        {{"process", good, "-s", "migrate", "--section-limit", "1000", "-o", out}, 1,
         "step 'migrate' needs the whole section in memory"},
        {{"process", good, "-s", "dewow", "--png", Path("x.bmp")}, 1, "unknown picture type"},
        {{"convert", good, Path("x.txt")}, 1, "x.txt"},
        // Facts given on the command line are ones a survey can have.
        {{"process", good, "-s", "migrate", "--spacing", "-0.25", "-o", out}, 2, "--spacing: -0.25 is not a positive number"},
        {{"info", good, "--sample-interval", "nan"}, 2, "--sample-interval: nan is not a positive number"},
        {{"info", good, "--separation", "inf"}, 2, "--separation: inf is not zero or a positive number"},
    };
    for (const Case& c : cases) {
        const Result r = RunCli(c.args);
        EXPECT_EQ(r.status, c.status) << c.message << "\n" << r.output;
        EXPECT_NE(r.output.find(c.message), std::string::npos) << r.output;
        EXPECT_EQ(r.output.find("terminate called"), std::string::npos) << r.output;
    }
    EXPECT_FALSE(Exists(out));  // nothing half-written under the target name
    EXPECT_EQ(ReadFile(good), original);  // the input is never modified
}

TEST_F(Cli, DemoWritesItsPictureAndProfile) {
    Result r = RunCli({"demo", "-o", dir_});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(PngSize(ReadFile(Path("demo.png"))), std::make_pair(1800, 620));
    EXPECT_NE(r.output.find(Path("demo_processed.DZT")), std::string::npos) << r.output;
    // What a DZT cannot keep is named; one stack is no stacking to lose.
    EXPECT_NE(r.output.find("does not keep: antenna separation 0.14 m, elevations of 480 traces\n"), std::string::npos)
        << r.output;
    r = RunCli({"info", Path("demo_processed.DZT")});
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("480 traces x 512 samples"), std::string::npos) << r.output;
    // A chosen size, and pictures by extension.
    r = RunCli({"demo", "-o", dir_, "--width", "900", "--height", "400"});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(PngSize(ReadFile(Path("demo.png"))), std::make_pair(900, 400));
    const std::string in = Path("demo_raw.DZT");
    r = RunCli({"plot", in, "-o", Path("p.svg")});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(ReadFile(Path("p.svg")).find("<svg"), std::string::npos);
    r = RunCli({"plot", in, "-o", Path("p.pdf")});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(ReadFile(Path("p.pdf")).compare(0, 5, "%PDF-"), 0);
    // 480 traces at 0.025 m: 12 m at 0.02 m per pixel is 599 columns plus margins.
    r = RunCli({"process", in, "-s", "dewow", "--png", Path("m.png"), "--metres-per-pixel", "0.02"});
    ASSERT_EQ(r.status, 0) << r.output;
    const int width = PngSize(ReadFile(Path("m.png"))).first;
    EXPECT_GT(width, 600);
    EXPECT_LT(width, 900);
}

TEST_F(Cli, ParallelRunsEqualOneWorker) {
    // DT1 keeps the elevations that the topographic shift needs.
    const std::string in = Synth("s.DT1", 7);
    const std::vector<std::vector<std::string>> chains = {
        {"-s", "dewow", "-s", "sec2:auto", "-s", "agc:WINDOW=2,MAXGN@=200", "-s", "envelope:10"},
        {"-s", "DEWOW@:WINDOW=1.50", "-s", "bgsub:20", "-s", "const:GAIN@@=2"},
        {"-s", "dvl", "-s", "deseparate", "-s", "topo:velocity=0.1"},
    };
    for (const auto& chain : chains) {
        std::string reference;
        for (const std::string jobs : {"1", "3"}) {
            for (const std::string block : {"7", "1000"}) {
                std::vector<std::string> args = {"process", in, "-o", Path("o.DT1"), "-j", jobs, "--block-traces", block};
                args.insert(args.end(), chain.begin(), chain.end());
                const Result r = RunCli(args);
                ASSERT_EQ(r.status, 0) << r.output;
                const std::string bytes = ReadFile(Path("o.DT1"));
                if (reference.empty()) {
                    reference = bytes;
                    EXPECT_NE(bytes, ReadFile(in));
                }
                EXPECT_TRUE(bytes == reference) << chain[1] << " -j " << jobs << " --block-traces " << block;
            }
        }
    }
}

// The two leading words (scan counter, mark word) of every trace of a
// one-channel 16-bit DZT file.
std::string DztTraceWords(const std::string& bytes) {
    auto u16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(bytes[at]) | static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    if (bytes.size() < 1024) return "";
    const size_t code = u16(2), record = 2 * u16(4), offset = code >= 1 && code < 1024 ? 1024 * code : 1024;
    std::string words;
    for (size_t at = offset; record > 4 && at + record <= bytes.size(); at += record) words += bytes.substr(at, 4);
    return words;
}

TEST_F(Cli, ProcessedDztKeepsEveryTracesWords) {
    // The workers take the words from their own reads of overlapping
    // neighbourhoods (bgsub), in blocks that split the marked traces' runs.
    const std::string in = Synth("s.DZT", 3);
    const std::string words = DztTraceWords(ReadFile(in));
    ASSERT_EQ(words.size(), 4u * 480);
    int marks = 0;
    for (size_t t = 0; t < 480; ++t) marks += words[4 * t + 2] != 0 || words[4 * t + 3] != 0;
    ASSERT_GT(marks, 0);
    std::string reference;
    for (const std::string jobs : {"1", "3"}) {
        const Result r = RunCli({"process", in, "-s", "bgsub:20", "-s", "dewow", "-o", Path("o.DZT"), "-j", jobs,
                                 "--block-traces", "7"});
        ASSERT_EQ(r.status, 0) << r.output;
        const std::string bytes = ReadFile(Path("o.DZT"));
        EXPECT_TRUE(DztTraceWords(bytes) == words) << "-j " << jobs;
        if (reference.empty()) reference = bytes;
        EXPECT_TRUE(bytes == reference) << "-j " << jobs;
    }
}

TEST_F(Cli, BatchGoesOnPastABrokenFile) {
    const std::string a = Synth("a.DZT", 1), b = Synth("b.DZT", 2);
    WriteFile(Path("broken.DZT"), ReadFile(a).substr(0, 700));
    ASSERT_EQ(::mkdir(Path("out").c_str(), 0755), 0);
    const Result r = RunCli({"process", Path("*.DZT"), "-s", "dewow", "-s", "bgsub:10", "-O", Path("out")});
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("broken.DZT"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("1 of 3 files failed"), std::string::npos) << r.output;
    EXPECT_TRUE(Exists(Path("out/a.DZT")));
    EXPECT_TRUE(Exists(Path("out/b.DZT")));
    EXPECT_FALSE(Exists(Path("out/broken.DZT")));
    // The same batch into another format, processed or converted: each
    // output takes its input's stem; the broken file still fails alone.
    Result f = RunCli({"process", Path("*.DZT"), "-s", "dewow", "-O", Path("out"), "--format", "DT1"});
    EXPECT_EQ(f.status, 1) << f.output;
    EXPECT_TRUE(Exists(Path("out/a.DT1")) && Exists(Path("out/a.HD")) && Exists(Path("out/b.DT1")));
    f = RunCli({"convert", a, b, "-O", Path("out"), "--format", "sgy"});
    EXPECT_EQ(f.status, 0) << f.output;
    EXPECT_NE(f.output.find(a + " (DZT) -> " + Path("out/a.sgy")), std::string::npos) << f.output;
    EXPECT_EQ(RunCli({"info", Path("out/b.sgy")}).status, 0);
    f = RunCli({"convert", Path("*.DZT"), "-O", Path("out"), "--format", "rd3"});
    EXPECT_EQ(f.status, 1) << f.output;
    EXPECT_NE(f.output.find("1 of 3 files failed"), std::string::npos) << f.output;
    EXPECT_TRUE(Exists(Path("out/a.rd3")) && Exists(Path("out/b.rad")));
    // Refused command lines: status 2, nothing written.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"convert", a, b, Path("out/c.sgy")}, {"convert", a, "-O", Path("out")},
          {"convert", a, Path("out/c.sgy"), "--format", "sgy"}, {"convert", a, "-O", Path("out"), "--format", "tif"},
          {"process", a, "-s", "dewow", "-o", Path("out/c.sgy"), "--format", "sgy"}}) {
        f = RunCli(args);
        EXPECT_EQ(f.status, 2) << args[2] << "\n" << f.output;
        EXPECT_FALSE(Exists(Path("out/c.sgy")));
    }
}

// Every channel of a file is processed, each as if it were alone (its own
// facts, its own automatic set-up), into one file that keeps the channels
// and their trace words; --channel takes one.
TEST_F(Cli, EveryChannelIsProcessed) {
    namespace vs = vantir3::survey;
    vs::Acquisition a;
    a.traces = 40;
    a.samples = 64;
    a.sampleIntervalNs = 0.2;
    a.antennaFrequencyMHz = 400;
    a.marks = {{5, 0x6400}, {31, 0x6400}};
    vs::Acquisition b = a;
    b.channel = 1;
    b.antennaFrequencyMHz = 800;
    b.marks = {{12, 0x6400}};
    const std::string in = Path("two.DZT");
    {
        const auto w = vs::SurveyWriter::Create(in, {a, b});
        std::vector<int16_t> samples(40 * 2 * 64);
        for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>((i * (i % 128 < 64 ? 37 : 91)) % 2000 - 1000);
        w->WriteScans16(samples.data(), 40);
        w->Commit();
    }
    const std::vector<std::string> steps = {"-s", "dewow", "-s", "sec2:auto", "-j", "2", "--block-traces", "3"};
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.end(), steps.begin(), steps.end());
        const Result r = RunCli(args);
        EXPECT_EQ(r.status, 0) << r.output;
        return r.output;
    };
    EXPECT_NE(run({"process", in, "-o", Path("both.DZT")}).find("two.DZT: 2 channels of 40 traces x 64 samples"),
              std::string::npos);
    run({"process", in, "--channel", "0", "-o", Path("c0.DZT")});
    run({"process", in, "--channel", "1", "-o", Path("c1.DZT")});
    const auto inFile = vs::SurveyFile::Open(in);
    const auto both = vs::SurveyFile::Open(Path("both.DZT"));
    ASSERT_EQ(both->channelCount(), 2);
    for (int32_t c = 0; c < 2; ++c) {
        const auto one = vs::SurveyFile::Open(Path(c == 0 ? "c0.DZT" : "c1.DZT"));
        ASSERT_EQ(one->channelCount(), 1);
        std::vector<int16_t> x(40 * 64), y(40 * 64), raw(40 * 64);
        std::vector<uint8_t> wordsIn(40 * 4), wordsOut(40 * 4);
        both->ReadTraces16(c, 0, 40, x.data(), wordsOut.data());
        one->ReadTraces16(0, 0, 40, y.data());
        inFile->ReadTraces16(c, 0, 40, raw.data(), wordsIn.data());
        EXPECT_EQ(x, y) << "channel " << c;
        EXPECT_NE(x, raw);
        EXPECT_EQ(wordsOut, wordsIn) << "channel " << c;
        EXPECT_EQ(both->acquisition(c).antennaFrequencyMHz, c == 0 ? 400 : 800);
        EXPECT_EQ(both->acquisition(c).marks.size(), c == 0 ? 2u : 1u);
    }
    // One picture shows both; a one-channel format takes one channel.
    EXPECT_NE(run({"process", in, "--png", Path("both.png"), "--compare"}).find("-> " + Path("both.png")), std::string::npos);
    EXPECT_GT(ReadFile(Path("both.png")).size(), 1000u);
    Result r = RunCli({"process", in, "-s", "dewow", "-o", Path("two.sgy")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("SEG-Y files hold one channel, not 2; --channel N processes one of them"), std::string::npos)
        << r.output;
    EXPECT_FALSE(Exists(Path("two.sgy")));
    EXPECT_EQ(RunCli({"process", in, "-s", "dewow", "--channel", "1", "-o", Path("two.sgy")}).status, 0);
    EXPECT_EQ(RunCli({"process", in, "-s", "dewow", "--channel", "-1", "-o", Path("two.sgy")}).status, 2);
    // Converting takes every channel too, or the one named.
    r = RunCli({"convert", in, Path("raw.sgy")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("--channel N converts one of them"), std::string::npos) << r.output;
    ASSERT_EQ(RunCli({"convert", in, Path("raw1.sgy"), "--channel", "1"}).status, 0);
    ASSERT_EQ(RunCli({"convert", in, Path("copy.DZT")}).status, 0);
    std::vector<int16_t> want(40 * 64), got(40 * 64);
    inFile->ReadTraces16(1, 0, 40, want.data());
    vs::SurveyFile::Open(Path("raw1.sgy"))->ReadTraces16(0, 0, 40, got.data());
    EXPECT_EQ(got, want);
    const auto copy = vs::SurveyFile::Open(Path("copy.DZT"));
    ASSERT_EQ(copy->channelCount(), 2);
    copy->ReadTraces16(1, 0, 40, got.data());
    EXPECT_EQ(got, want);
}

TEST_F(Cli, ListConvertAndCommandAbbreviations) {
    Result r = RunCli({"list"});
    ASSERT_EQ(r.status, 0);
    for (const char* text : {"SEC2 Gain", "MAXGN@ Maximum Gain: default 500, 1 to 32767, resolution 1", "Dewow",
                             "VELOC@ Velocity: default 0.100, 0.003 to 0.300", "bgsub", "whole section",
                             "DATUM@ Datum: default 0.000, any value, resolution 0.001"})
        EXPECT_NE(r.output.find(text), std::string::npos) << text;
    EXPECT_EQ(RunCli({"li"}).output, r.output);  // a unique prefix names the command
    EXPECT_EQ(RunCli({"process", "--help"}).status, 0);
    const std::string in = Synth("c.DZT");
    // Each -s takes one step, so a file may follow it.
    r = RunCli({"process", "-s", "dewow", in, "-s", "agc", "-o", Path("d.DZT")});
    EXPECT_EQ(r.status, 0) << r.output;
    r = RunCli({"convert", in, Path("c.sgy")});
    ASSERT_EQ(r.status, 0) << r.output;
    // What the output's format cannot hold is named; a file written in its
    // own format keeps everything.
    EXPECT_NE(r.output.find("c.sgy (SEG-Y) does not keep: marks of "), std::string::npos) << r.output;
    // The DZT's scan counter and mark word are not samples of the SEG-Y:
    // they become copies of each trace's first radar sample.
    const std::string sgy = ReadFile(Path("c.sgy"));
    const size_t record = 240 + 2 * 512;
    ASSERT_EQ(sgy.size(), 3600 + 480 * record);
    for (size_t t : {0, 1, 479}) {
        const std::string first = sgy.substr(3600 + t * record + 240, 6);
        EXPECT_EQ(first.substr(0, 2), first.substr(4, 2)) << "trace " << t;
        EXPECT_EQ(first.substr(2, 2), first.substr(4, 2)) << "trace " << t;
    }
    r = RunCli({"convert", in, Path("again.DZT")});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("does not keep"), std::string::npos) << r.output;
    r = RunCli({"info", "--json", Path("c.sgy")});
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("\"format\": \"SEG-Y\""), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("\"traces\": 480, \"samples\": 512"), std::string::npos) << r.output;
}

TEST(CliRealData, InfoAndProcessEveryFile) {
    const std::string dir = vantir3_test::TestDataDir();
    if (std::string(VANTIR3_CLI).empty()) GTEST_SKIP() << "the program is not built";
    if (dir.empty()) GTEST_SKIP() << "test data absent";
    char name[] = "/tmp/vantir3_cli_XXXXXX";
    ASSERT_NE(::mkdtemp(name), nullptr);
    const std::string out = name;
    int tried = 0;
    for (const char* pattern : {"dzt/*.DZT", "dt1/*.DT1", "rd3/*.rd3", "sgy/*.sgy"}) {
        const Result list = RunCli({"info", dir + "/" + pattern});
        if (list.output.find("not available yet") != std::string::npos) continue;  // reader still to come
        EXPECT_EQ(list.status, 0) << list.output;
        // The recording times: the .COR's one fix, the DZG's fixes of every
        // scan, the DT1 headers' clock on the .HD's day.
        if (std::string(pattern) == "rd3/*.rd3") {
            EXPECT_NE(list.output.find("1 trace timed, 2019-07-26 16:58:43 to 2019-07-26 16:58:43 UTC\n"),
                      std::string::npos) << list.output;
        }
        if (std::string(pattern) == "rd3/*.rd3") {
            const Result table = RunCli({"info", "--traces", dir + "/" + pattern});
            EXPECT_EQ(table.status, 0);
            EXPECT_EQ(table.output.rfind("file,channel,trace,position_m,x,y,elevation_m,time,mark\n", 0), 0u);
            EXPECT_NE(table.output.find(",0,7,,-35.98767333333,75.63203,2663.65,2019-07-26 16:58:43,\n"),
                      std::string::npos) << table.output;
            EXPECT_NE(table.output.find(",0,10,,,,,,\n"), std::string::npos) << table.output;
            // Per-trace facts that only some traces have are counted as such.
            EXPECT_NE(list.output.find("    elevations 2663.650 to 2663.650 m (1 of 10 traces)\n"
                                       "    geographic coordinates for 1 of 10 traces\n"),
                      std::string::npos) << list.output;
            // The topographic shift needs them all.
            const Result topo = RunCli({"process", dir + "/" + pattern, "-s", "topo", "-o", out + "/t.rd3"});
            EXPECT_EQ(topo.status, 1);
            EXPECT_NE(topo.output.find("needs an elevation for every trace, which the file does not give (it gives 1 of 10)"),
                      std::string::npos) << topo.output;
        }
        if (std::string(pattern) == "sgy/*.sgy") {
            // An f32 file's values are fractions that DZT's integer samples
            // cannot hold: its 16-bit samples are written instead, and the
            // note says what that cost.
            const std::string sgy = dir + "/sgy/rgpr_test_export.sgy";
            EXPECT_NE(list.output.find("f32 (as 16-bit samples: value / 0.001953125)\n"), std::string::npos)
                << list.output;
            // A window the file does not state is its samples' span.
            EXPECT_NE(list.output.find("time window 400.00 ns (samples x interval)\n"), std::string::npos)
                << list.output;
            Result r = RunCli({"convert", sgy, out + "/c.DZT"});
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_NE(r.output.find("c.DZT (DZT) does not keep: exact values (rounded to 16-bit samples), amplitude "
                                    "scale 0.001953125 (values written as the 16-bit samples)"),
                      std::string::npos) << r.output;
            r = RunCli({"info", out + "/c.DZT"});
            EXPECT_NE(r.output.find("223 traces x 1000 samples, u16\n"), std::string::npos) << r.output;
            r = RunCli({"process", sgy, "-s", "dewow", "--frequency", "250", "-o", out + "/p.rd3"});
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_NE(r.output.find("p.rd3 (RD3) does not keep: amplitude scale 0.001953125"), std::string::npos)
                << r.output;
            EXPECT_EQ(r.output.find("exact values"), std::string::npos) << r.output;
        }
        if (std::string(pattern) == "dt1/*.DT1") {
            EXPECT_NE(list.output.find("391 traces timed, 2012-10-06 09:54:32.953125 to 2012-10-06 09:58:33.636719\n"),
                      std::string::npos) << list.output;
            EXPECT_NE(list.output.find("\"10/06/2011\" may be day/month or month/day"), std::string::npos)
                << list.output;
        }
        if (std::string(pattern) == "dzt/*.DZT") {
            // The first DZT's user marks, by the word each records.
            const Result table = RunCli({"info", "--traces", dir + "/dzt/gprpy_FILE____032.DZT"});
            EXPECT_EQ(table.status, 0);
            std::istringstream rows(table.output);
            std::string row;
            size_t marked = 0;
            while (std::getline(rows, row)) marked += row.back() != ',' && row.back() != 'k';  // not the header
            EXPECT_EQ(marked, 11u) << table.output.substr(0, 2000);
            // Positions from the spacing (50 scans per metre) where the file lists none.
            EXPECT_NE(table.output.find(",0,101,2,"), std::string::npos) << table.output.substr(0, 2000);
            EXPECT_NE(list.output.find("345 traces timed, 00:03:20 to 00:03:33 UTC\n"), std::string::npos)
                << list.output;
            EXPECT_NE(list.output.find("    range gain recorded, 1 point: 0.0 dB at sample 0.0\n"), std::string::npos)
                << list.output;
            // Its GPS log goes with it into a DT1, as that format's own log.
            Result r = RunCli({"convert", dir + "/dzt/impdar_sample32.DZT", out + "/gps.DT1"});
            EXPECT_EQ(r.status, 0) << r.output;
            EXPECT_EQ(r.output.find("coordinates"), std::string::npos) << r.output;
            r = RunCli({"info", out + "/gps.DT1"});
            EXPECT_NE(r.output.find("345 geographic coordinates\n    345 traces timed, 00:03:20 to 00:03:33 UTC\n"),
                      std::string::npos) << r.output;
        }
        const std::string ext = std::string(pattern).substr(std::string(pattern).find('.'));
        std::vector<std::string> args = {"process", dir + "/" + pattern, "-s", "dewow", "-s", "sec2:auto",
                                         "-s", "bgsub:30", "-O", out, "--png", out + "/p.png"};
        // Files that do not state the antenna frequency get one.
        if (list.output.find("frequency unknown") != std::string::npos) {
            args.push_back("--frequency");
            args.push_back("250");
        }
        const Result r = RunCli(args);
        EXPECT_EQ(r.status, 0) << pattern << "\n" << r.output;
        for (size_t at = r.output.find(" -> "); at != std::string::npos; at = r.output.find(" -> ", at + 1)) ++tried;
    }
    EXPECT_GT(tried, 0);
    std::system(("rm -rf " + Quote(out)).c_str());
}

}  // namespace
