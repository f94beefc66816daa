// The switches of a self-extracting file, read from whole command lines as
// the system passes them (program name first).
#include "base/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace qorn {
namespace {

struct Expected {
    bool given, silent, help, unknown;
    std::u16string destination;
    bool destinationEmpty = false;
};

void expectLine(const std::u16string& line, const Expected& e) {
    SCOPED_TRACE(std::string(line.begin(), line.end()));
    const CommandLine c = parseCommandLine(line.c_str());
    EXPECT_EQ(c.given, e.given);
    EXPECT_EQ(c.silent, e.silent);
    EXPECT_EQ(c.help, e.help);
    EXPECT_EQ(c.unknown, e.unknown);
    EXPECT_EQ(std::u16string(c.destination.c_str()), e.destination);
    EXPECT_EQ(c.destinationEmpty, e.destinationEmpty);
}

TEST(CommandLine, TheProgramNameAloneIsNoSwitch) {
    expectLine(u"setup.exe", {false, false, false, false, u""});
    expectLine(u"setup.exe   \t ", {false, false, false, false, u""});
    // A quoted program name ends at its closing quote, blanks and slashes
    // inside it included.
    expectLine(u"\"C:\\a /S dir\\setup.exe\"", {false, false, false, false, u""});
    expectLine(u"\"C:\\a /S dir\\setup.exe\" /s", {true, true, false, false, u""});
    expectLine(u"", {false, false, false, false, u""});
    EXPECT_FALSE(parseCommandLine(nullptr).given);
}

TEST(CommandLine, SwitchesInAnyCaseAndQuoting) {
    expectLine(u"setup.exe /S", {true, true, false, false, u""});
    expectLine(u"setup.exe /s /S", {true, true, false, false, u""});
    expectLine(u"setup.exe \"/S\"", {true, true, false, false, u""});
    expectLine(u"setup.exe /\"S\"", {true, true, false, false, u""});
    expectLine(u"setup.exe /?", {true, false, true, false, u""});
}

// Whatever is not a switch is passed over and counts as no switch: a file
// dropped on the program, another installer's switches, the rest of an
// unquoted program path with blanks in it.
TEST(CommandLine, AnythingElseIsPassedOver) {
    expectLine(u"setup.exe /X", {false, false, false, true, u""});
    expectLine(u"setup.exe -S", {false, false, false, true, u""});
    expectLine(u"setup.exe /SILENT", {false, false, false, true, u""});
    expectLine(u"setup.exe /q", {false, false, false, true, u""});
    expectLine(u"setup.exe /", {false, false, false, true, u""});
    expectLine(u"setup.exe S", {false, false, false, true, u""});
    expectLine(u"setup.exe /D", {false, false, false, true, u""});
    expectLine(u"setup.exe \"\"", {false, false, false, true, u""});
    expectLine(u"setup.exe \"C:\\Users\\me\\Desktop\\notes.txt\"",
               {false, false, false, true, u""});
    expectLine(u"C:\\Program Files\\Tools\\setup.exe", {false, false, false, true, u""});
    // One quoted argument is one argument, not two switches.
    expectLine(u"setup.exe \"/S /?\"", {false, false, false, true, u""});
    // Beside a switch, the switch holds.
    expectLine(u"setup.exe notes.txt /S", {true, true, false, true, u""});
    expectLine(u"setup.exe -S /?", {true, false, true, true, u""});
    // Backslashes before a quote: an odd count makes the quote literal, so
    // the blank after it still splits and /S is a switch of its own.
    expectLine(u"setup.exe a\\\" /S", {true, true, false, true, u""});
    // An even count leaves the quote opening a quoted part that swallows
    // the rest of the line.
    expectLine(u"setup.exe a\\\\\" /S", {false, false, false, true, u""});
    // A doubled quote inside a quoted part is a literal quote, not its end.
    expectLine(u"setup.exe \"a\"\" /S\"", {false, false, false, true, u""});
    expectLine(u"setup.exe \\/S", {false, false, false, true, u""});
}

TEST(CommandLine, TheDestinationIsTheRestOfTheLine) {
    expectLine(u"setup.exe /S /D=C:\\x y\\z", {true, true, false, false, u"C:\\x y\\z"});
    expectLine(u"setup.exe /d=relative dir  \t", {true, false, false, false, u"relative dir"});
    // Whatever follows belongs to the path: it must come last.
    expectLine(u"setup.exe /D=C:\\a /S", {true, false, false, false, u"C:\\a /S"});
    // Quotes a launcher put around the whole argument or the path go.
    expectLine(u"setup.exe \"/D=C:\\x y\\z\" ", {true, false, false, false, u"C:\\x y\\z"});
    expectLine(u"setup.exe /S /D=\"C:\\x y\"", {true, true, false, false, u"C:\\x y"});
    // Blanks inside the quotes go too, at either end of the path.
    expectLine(u"setup.exe \"/D=C:\\x y \" ", {true, false, false, false, u"C:\\x y"});
    expectLine(u"setup.exe /D=\" \" C:\\x\" \"", {true, false, false, false, u"C:\\x"});
    // A destination with nothing in it is told apart: a silent run refuses it.
    expectLine(u"setup.exe /S /D=", {true, true, false, false, u"", true});
    expectLine(u"setup.exe /S /D=\"\"  ", {true, true, false, false, u"", true});
    expectLine(u"setup.exe /D=", {true, false, false, false, u"", true});
    // A switch that only looks like it.
    expectLine(u"setup.exe /DIR=C:\\x", {false, false, false, true, u""});
}

}  // namespace
}  // namespace qorn
