// How the command line answers questions and file dialogs: by --answer, by
// what the command implies, by --yes, by the user, or by declining, in that
// order; never by guessing.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <deque>

#include "app/core/settings.h"
#include "cli/cli_prompt.h"
#include "support/fakes.h"
#include "channel/channel.h"

namespace {

constexpr unsigned kLowSpace = mb::kYesNo | mb::kIconWarning | mb::kSetForeground;
constexpr unsigned kSectorSize = mb::kYesNoCancel | mb::kIconQuestion | mb::kSetForeground;
constexpr unsigned kModified = mb::kOkCancel | mb::kIconWarning | mb::kSetForeground;
constexpr unsigned kMismatch = mb::kOk | mb::kIconError | mb::kSetForeground;

class PromptTest : public ::testing::Test {
protected:
    PromptTest() : sink(std::tmpfile()), display(sink, sink, false, 0) { settings.debugLevel = 0; }
    ~PromptTest() override
    {
        if (sink) std::fclose(sink);
    }

    CCliPrompt Make(PromptSetup setup)
    {
        return CCliPrompt(display, std::move(setup), [this](std::string* line) {
            ++reads;
            if (typed.empty()) return false;
            *line = typed.front();
            typed.pop_front();
            return true;
        });
    }
    std::string Shown()
    {
        std::fflush(sink);
        std::rewind(sink);
        std::string text;
        for (int c; (c = std::fgetc(sink)) != EOF;) text += char(c);
        return text;
    }

    CFrontEndFixture fixture;  // records the log lines
    FILE* sink;
    CDisplay display;
    std::deque<std::string> typed;
    int reads = 0;
};

TEST_F(PromptTest, AnswersInOrderOfPrecedence)
{
    PromptSetup s;
    s.answers = {{"Low Disk Space !", kIdNo}};
    s.yesToAll = true;
    CCliPrompt prompt = Make(s);
    prompt.SetImpliedAnswer("Volumesize Modified !", kIdOk);
    prompt.SetImpliedAnswer("Low Disk Space !", kIdYes);  // --answer wins over it

    EXPECT_EQ(kIdNo, prompt.MessageBox("Continue anyway ?  ", "Low Disk Space !", kLowSpace));
    EXPECT_EQ(kIdOk, prompt.MessageBox("Sectors set to: ...", "Volumesize Modified !", kModified));
    EXPECT_EQ(kIdYes, prompt.MessageBox("Ignore Checksum Error ?  ", "Failed Header Check!", kLowSpace));
    EXPECT_EQ(0, reads);
    EXPECT_TRUE(fixture.poster.Logged("Answered \"Low Disk Space !\" with No (--answer)"));
    EXPECT_TRUE(fixture.poster.Logged("Answered \"Failed Header Check!\" with Yes (--yes)"));
    // The question itself is shown with its caption, one line per text line.
    EXPECT_NE(Shown().find("[Low Disk Space !] Continue anyway ?"), std::string::npos);
}

TEST_F(PromptTest, WithoutAnAnswerTheQuestionIsDeclinedAndLogged)
{
    CCliPrompt prompt = Make(PromptSetup());
    EXPECT_EQ(kIdNo, prompt.MessageBox("Continue ?  ", "Low Disk Space !", kLowSpace));
    EXPECT_EQ(kIdCancel, prompt.MessageBox("Force 2048 Byte Sectors ? ...", "Unexpected Sectorsize!", kSectorSize));
    EXPECT_EQ(kIdCancel, prompt.MessageBox("Sectors set to: ...", "Volumesize Modified !", kModified));
    EXPECT_EQ(0, reads);  // not a terminal: nobody is asked
    EXPECT_TRUE(fixture.poster.Logged("Declined \"Low Disk Space !\" with No (no answer given)"));
    EXPECT_TRUE(fixture.poster.Logged("Declined \"Unexpected Sectorsize!\" with Cancel (no answer given)"));
}

TEST_F(PromptTest, MessagesWithOnlyOkAreShownAndAcknowledged)
{
    CCliPrompt prompt = Make(PromptSetup());
    EXPECT_EQ(kIdOk, prompt.MessageBox("Expected sectors:\t333000\nBut drive reports:\t332999",
                                       "Sectornumber Mismatch !", kMismatch));
    std::string shown = Shown();
    EXPECT_NE(shown.find("[Sectornumber Mismatch !] Expected sectors:\t333000\n"), std::string::npos) << shown;
    EXPECT_NE(shown.find("[Sectornumber Mismatch !] But drive reports:\t332999\n"), std::string::npos) << shown;
    EXPECT_TRUE(fixture.poster.LogLines().empty());
}

TEST_F(PromptTest, OnATerminalTheUserAnswersUntilTheAnswerFits)
{
    PromptSetup s;
    s.interactive = true;
    CCliPrompt prompt = Make(s);
    typed = {"maybe", "ok", "  N "};  // "ok" is no button of a Yes/No box
    EXPECT_EQ(kIdNo, prompt.MessageBox("Continue ?  ", "Low Disk Space !", kLowSpace));
    EXPECT_EQ(3, reads);
    typed = {"c"};
    EXPECT_EQ(kIdCancel, prompt.MessageBox("Force ...", "Unexpected Sectorsize!", kSectorSize));
    // End of input: declined, and said so.
    typed.clear();
    EXPECT_EQ(kIdNo, prompt.MessageBox("Continue ?  ", "Low Disk Space !", kLowSpace));
    EXPECT_TRUE(fixture.poster.Logged("Declined \"Low Disk Space !\" with No (no answer given)"));
    EXPECT_NE(Shown().find("Answer (Yes/No/Cancel): "), std::string::npos);
}

TEST(PromptAnswers, FitToTheButtonsOfTheBox)
{
    EXPECT_EQ(kIdOk, FitAnswer(kIdYes, mb::kOkCancel));
    EXPECT_EQ(kIdCancel, FitAnswer(kIdNo, mb::kOkCancel));
    EXPECT_EQ(kIdYes, FitAnswer(kIdOk, mb::kYesNo));
    EXPECT_EQ(kIdNo, FitAnswer(kIdCancel, mb::kYesNo));
    // Yes/No/Cancel has both declining buttons: each stays what it is.
    EXPECT_EQ(kIdNo, FitAnswer(kIdNo, mb::kYesNoCancel));
    EXPECT_EQ(kIdCancel, FitAnswer(kIdCancel, mb::kYesNoCancel));
    EXPECT_EQ(kIdYes, FitAnswer(kIdOk, mb::kYesNoCancel));

    std::vector<int> yesNo = {kIdYes, kIdNo};
    EXPECT_EQ(kIdYes, ParseTypedAnswer("YES", yesNo));
    EXPECT_EQ(kIdYes, ParseTypedAnswer("y\r", yesNo));
    EXPECT_EQ(kIdFailed, ParseTypedAnswer("ye", yesNo));
    EXPECT_EQ(kIdFailed, ParseTypedAnswer("", yesNo));
    EXPECT_EQ(kIdFailed, ParseTypedAnswer("cancel", yesNo));
}

TEST_F(PromptTest, ImageDialogGetsTheOptionOrTheSafeDefaultName)
{
    PromptSetup s;
    s.destFolder = "/rescue/";
    s.imagePath = "";
    CCliPrompt byDefault = Make(s);
    FileChoice image;
    image.filter = "Image Files (*.iso)|*.iso||";
    image.defaultName = "HOLIDAY.iso";
    std::string path;
    ASSERT_TRUE(byDefault.ChooseFile(image, &path));
    EXPECT_EQ("/rescue/HOLIDAY.iso", path);
    // A label must not lead the image out of the destination.
    image.defaultName = "../../x.iso";
    ASSERT_TRUE(byDefault.ChooseFile(image, &path));
    EXPECT_EQ("/rescue/.._.._x.iso", path);

    FileChoice flag;
    flag.filter = "Flag Files (*.flg)|*.flg||";
    EXPECT_FALSE(byDefault.ChooseFile(flag, &path));  // no flag file given: cancelled

    s.imagePath = "/elsewhere/Disc";
    s.flagPath = "/old/Disc.flg";
    CCliPrompt given = Make(s);
    ASSERT_TRUE(given.ChooseFile(image, &path));
    EXPECT_EQ("/elsewhere/Disc", path);
    ASSERT_TRUE(given.ChooseFile(flag, &path));
    EXPECT_EQ("/old/Disc.flg", path);

    // A path the engine would have to cut is refused, not cut.
    s.imagePath = "/" + std::string(300, 'a');
    CCliPrompt tooLong = Make(s);
    EXPECT_FALSE(tooLong.ChooseFile(image, &path));
}

TEST(PromptAnswers, SafeFileNames)
{
    EXPECT_EQ("MY_DISC", SafeFileName("MY_DISC"));
    EXPECT_EQ("a_b_c", SafeFileName("a/b\\c"));
    EXPECT_EQ("__", SafeFileName(".."));
    EXPECT_EQ("_", SafeFileName(""));
    EXPECT_EQ("x_y_z", SafeFileName("x:y\x01z"));
    EXPECT_EQ("..iso", SafeFileName("..iso"));
}

}  // namespace

namespace {

TEST(TerminalLine, ReadsALineAndGivesUpWhenCancelled)
{
    int fds[2];
    ASSERT_EQ(0, pipe(fds));
    FILE* in = fdopen(fds[0], "r");
    ASSERT_NE(nullptr, in);
    ASSERT_EQ(4, write(fds[1], "yes\n", 4));
    std::string line;
    ASSERT_TRUE(ReadTerminalLine(in, &line, nullptr));
    EXPECT_EQ("yes", line);
    // Nothing more typed: a Ctrl-C (the cancel test) ends the wait.
    int polls = 0;
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ReadTerminalLine(in, &line, [&] { return ++polls > 2; }));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    // A last line without its newline still counts; after it, end of input is no answer.
    ASSERT_EQ(2, write(fds[1], "no", 2));
    close(fds[1]);
    ASSERT_TRUE(ReadTerminalLine(in, &line, nullptr));
    EXPECT_EQ("no", line);
    EXPECT_FALSE(ReadTerminalLine(in, &line, nullptr));
    std::fclose(in);
}

}  // namespace
