#include "terminal_progress.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

namespace {

std::size_t count(const std::string& text, char c) { return std::count(text.begin(), text.end(), c); }

TEST(TerminalProgress, RedrawsOnlyWhenTheLineChanges) {
    std::ostringstream out;
    {
        TerminalProgress bar(out, true, 20);
        bar.beginStage("Casting lasers");
        bar.setRange(0, 1000000);
        for (int i = 0; i <= 1000000; i += 7) bar.setValue(i);
        bar.setValue(1000000);
        bar.endStage();
    }
    const std::string text = out.str();
    // At most one line per percent, plus the first drawing.
    EXPECT_LE(count(text, '\r'), 102u);
    EXPECT_EQ(count(text, '\n'), 1u);
    EXPECT_NE(text.find("Casting lasers       [####################] 100%\n"), std::string::npos);
}

TEST(TerminalProgress, ShorterLinesBlankOutTheRestAndValuesStayInRange) {
    std::ostringstream out;
    TerminalProgress bar(out, true, 10);
    bar.beginStage("Loading model");
    bar.setRange(0, 5);
    bar.showStatus(QStringLiteral("Creating Octree structure.."));
    bar.showStatus(QString());  // cleared
    bar.showStatus(QStringLiteral("     Uploaded mesh. Task completed.."));
    bar.setValue(9);  // beyond the range: shown full
    bar.beginStage("Saving points");
    bar.setRange(0, 0);  // nothing to do: an empty bar, no division by zero
    bar.endStage();

    const std::string text = out.str();
    const std::string longer = "Loading model        [----------]   0%  Creating Octree structure..";
    const std::string shorter = "Loading model        [----------]   0%";
    ASSERT_NE(text.find(longer), std::string::npos);
    EXPECT_NE(text.find("\r" + shorter + std::string(longer.size() - shorter.size(), ' ')), std::string::npos);
    EXPECT_NE(text.find("[##########] 100%  Uploaded mesh. Task completed..\n"), std::string::npos);
    EXPECT_NE(text.find("Saving points        [----------]   0%\n"), std::string::npos);
}

TEST(TerminalProgress, ADisabledBarWritesNothing) {
    std::ostringstream out;
    {
        TerminalProgress bar(out, false);
        bar.beginStage("Casting lasers");
        bar.setRange(0, 10);
        bar.setValue(5);
        bar.showStatus(QStringLiteral("busy"));
    }
    EXPECT_EQ(out.str(), "");
}

}  // namespace
