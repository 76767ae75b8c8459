#include "batch_options.h"

#include <gtest/gtest.h>

#include <sstream>

namespace {

struct Parsed {
    std::optional<BatchOptions> options;
    int exitCode = -1;
    std::string out, err;
};

Parsed parse(const std::vector<std::string>& args) {
    std::ostringstream out, err;
    Parsed p;
    p.options = parse_batch_options(args, out, err, &p.exitCode);
    p.out = out.str();
    p.err = err.str();
    return p;
}

TEST(BatchOptions, DefaultsAreTheDialogsStartValuesAndTheDemoFile) {
    const Parsed p = parse({});
    ASSERT_TRUE(p.options);
    const BatchOptions& o = *p.options;
    EXPECT_EQ(o.model, ModelKind::SampleScene);
    EXPECT_EQ(o.sampleTriangles, 300000u);
    EXPECT_EQ(o.orientation, 0.0);
    EXPECT_FALSE(o.velocity);
    EXPECT_FALSE(o.height);
    EXPECT_EQ(o.overlap, 30.0);
    EXPECT_EQ(o.scanner.prf, 10000.0);
    EXPECT_EQ(o.scanner.scanFrequency, 20.0);
    EXPECT_EQ(o.scanner.fovAcross, 60.0);
    EXPECT_EQ(o.scanner.fovAlong, 0.0);
    EXPECT_EQ(o.scanner.pattern, ZigZagLines);
    EXPECT_FALSE(o.realisticTrajectory);
    EXPECT_EQ(o.trajectoryTerms, TrajectoryTerms(6, std::vector<double>(4, 0.0)));
    EXPECT_FALSE(o.errorStep);
    EXPECT_EQ(o.pointsFile, "pointfall-demo.las");
    EXPECT_EQ(o.trajectoryFormatCode, 3);
    EXPECT_FALSE(o.seed);
    EXPECT_EQ(o.threads, 0u);

    // A model of one's own writes no points unless asked.
    const Parsed withMesh = parse({"--mesh", "m.txt"});
    ASSERT_TRUE(withMesh.options);
    EXPECT_EQ(withMesh.options->model, ModelKind::Mesh);
    EXPECT_EQ(withMesh.options->pointsFile, "");
}

TEST(BatchOptions, ValuesBecomeWhatTheDialogsHandOn) {
    const Parsed p = parse({"--obj",
                            "city.obj",
                            "--up",
                            "y",
                            "--unit",
                            "ft",
                            "--prf",
                            "2.5",
                            "--pattern",
                            "elliptical",
                            "--fov-along=12",
                            "--orientation",
                            "-0",
                            "--term-pitch",
                            "1,2,3,-4",
                            "--systematic=-1,0,0,0.5,0,0,0.1",
                            "--random",
                            "0,0,0,0,0,0,1e-3",
                            "--trajectory",
                            "t.txt",
                            "--trajectory-format",
                            "3",
                            "--seed",
                            "4294967295",
                            "--threads",
                            "2",
                            "--quiet"});
    ASSERT_TRUE(p.options) << p.err;
    const BatchOptions& o = *p.options;
    EXPECT_EQ(o.model, ModelKind::Obj);
    EXPECT_EQ(o.modelFile, "city.obj");
    EXPECT_EQ(o.verticalAxisAnswer, 1);
    EXPECT_EQ(o.unitChoice, 4);
    EXPECT_EQ(o.scanner.prf, 2500.0);
    EXPECT_EQ(o.scanner.pattern, Elliptical);
    EXPECT_EQ(o.scanner.fovAlong, 12.0);
    EXPECT_TRUE(o.realisticTrajectory);
    EXPECT_EQ(o.trajectoryTerms[4], (std::vector<double>{1, 2, 3, -4}));
    EXPECT_EQ(o.trajectoryTerms[0], (std::vector<double>{0, 0, 0, 0}));
    EXPECT_TRUE(o.errorStep);
    EXPECT_TRUE(o.errors.systematicOn);
    EXPECT_TRUE(o.errors.randomOn);
    EXPECT_FALSE(o.errors.overallOn);
    EXPECT_EQ(o.errors.systematic, (std::vector<double>{-1, 0, 0, 0.5, 0, 0, 0.1}));
    EXPECT_EQ(o.errors.random[6], 1e-3);
    EXPECT_EQ(o.trajectoryFile, "t.txt");
    EXPECT_EQ(o.trajectoryFormatCode, 1);  // "Format 3" is code 1
    EXPECT_EQ(*o.seed, 4294967295u);
    EXPECT_EQ(o.threads, 2u);
    EXPECT_TRUE(o.quiet);

    const Parsed format2 = parse({"--trajectory-format", "2"});
    ASSERT_TRUE(format2.options);
    EXPECT_EQ(format2.options->trajectoryFormatCode, 2);
}

TEST(BatchOptions, RefusesBadValuesWithExitTwoAndAMessageNamingTheOption) {
    struct Case {
        std::vector<std::string> args;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {{"--velocity", "fast"}, "--velocity: 'fast' is not a number."},
        {{"--height", "12m"}, "--height: '12m' is not a number."},
        {{"--prf", ""}, "--prf: '' is not a number."},
        {{"--overlap", "nan"}, "--overlap: 'nan' is not a number."},
        {{"--systematic", "1,2,3"}, "--systematic: expected 7 comma-separated values, got 3"},
        {{"--overall", "1,2,3,"}, "--overall: expected 3 comma-separated values, got 4"},
        {{"--term-x", "1,,2,3"}, "--term-x: '' is not a number."},
        {{"--points", "out.LAS"}, "ends in neither \".txt\" nor \".las\""},
        {{"--points", "out"}, "ends in neither"},
        {{"--overall", "1,1,1", "--random", "0,0,0,0,0,0,0"}, "--overall excludes --systematic and --random."},
        {{"--overall", "1,1,1", "--systematic", "0,0,0,0,0,0,0"}, "--overall excludes"},
        {{"--mesh", "a.txt", "--obj", "b.obj"}, "give at most one model"},
        {{"--unit", "cm"}, "need --obj"},
        {{"--obj", "a.obj", "--up", "x"}, "--up: 'x' is not one of z, y."},
        {{"--pattern", "circle"}, "--pattern: 'circle' is not one of zigzag, parallel, spherical, elliptical."},
        {{"--trajectory-format", "4"}, "--trajectory-format: '4' is not one of 1, 2, 3."},
        {{"--seed", "-1"}, "--seed"},
        {{"--threads", "two"}, "--threads"},
        {{"--log", ""}, "--log: the file name is empty."},
        {{"--no-such-option"}, "--no-such-option"},
        {{"stray"}, "stray"},
    };
    for (const Case& c : cases) {
        const Parsed p = parse(c.args);
        EXPECT_FALSE(p.options) << c.args[0];
        EXPECT_EQ(p.exitCode, 2) << c.args[0];
        EXPECT_NE(p.err.find(c.expected), std::string::npos) << "got: " << p.err;
        EXPECT_EQ(p.out, "");
    }
}

TEST(BatchOptions, HelpAndVersionEndTheRunSuccessfully) {
    const Parsed version = parse({"--version"});
    EXPECT_FALSE(version.options);
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, "pointfall-batch 4.0\n");

    const Parsed help = parse({"--help"});
    EXPECT_FALSE(help.options);
    EXPECT_EQ(help.exitCode, 0);
    for (const char* option : {"--mesh", "--obj", "--orientation", "--prf", "--pattern", "--term-yaw", "--overall",
                               "--points", "--trajectory-format", "--log", "--seed", "--threads", "--quiet"}) {
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    }
    EXPECT_EQ(help.out.find("--sample-triangles"), std::string::npos);
}

TEST(BatchOptions, NumbersMustBeWholeAndFinite) {
    EXPECT_EQ(parse_number("+2.5", "--x"), 2.5);
    EXPECT_EQ(parse_number("-1e-3", "--x"), -1e-3);
    EXPECT_THROW(parse_number("+-1", "--x"), OptionError);
    EXPECT_THROW(parse_number(" 1", "--x"), OptionError);
    EXPECT_THROW(parse_number("1 ", "--x"), OptionError);
    EXPECT_THROW(parse_number("inf", "--x"), OptionError);
    EXPECT_THROW(parse_number("1e999", "--x"), OptionError);
    EXPECT_THROW(parse_number("0x10", "--x"), OptionError);
    EXPECT_EQ(parse_number_list("1,-2,3.5", 3, "--x"), (std::vector<double>{1, -2, 3.5}));
    EXPECT_THROW(parse_number_list("", 1, "--x"), OptionError);
}

}  // namespace
