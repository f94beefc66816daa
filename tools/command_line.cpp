// The qornsfx command line on CLI11: one subcommand per job, each option with
// its meaning, its default and what a path is relative to; every mistake
// (an unknown option, a missing value, a stray word, a value out of range)
// is named, with the nearest option where one is near.
#include "tools/command_line.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>

namespace qorn::tool {

namespace {

const char kVersionText[] = "qornsfx " QORN_VERSION;

// Text wrapped to 79 columns, its first line going on from `column`, the
// others indented by `indent`.
std::string wrap(const std::string& text, size_t column, size_t indent) {
    std::string out, word;
    const std::string pad(indent, ' ');
    bool first = true;
    for (char c : text + " ") {
        if (c != ' ' && c != '\n') {
            word += c;
            continue;
        }
        if (!word.empty()) {
            if (!first && column + 1 + word.size() > 79) {
                out += '\n' + pad;
                column = indent;
            } else if (!first) {
                out += ' ';
                ++column;
            }
            out += word;
            column += word.size();
            first = false;
            word.clear();
        }
        if (c == '\n') {
            out += '\n' + pad;
            column = indent;
            first = true;
        }
    }
    return out;
}

// Descriptions wrapped under a left column of 30, so that --help and the
// manual page made from it read well.
class WrappingFormatter : public CLI::Formatter {
  public:
    WrappingFormatter() { column_width(kColumn); }
    std::string make_option(const CLI::Option* opt, bool positional) const override {
        return row("  " + make_option_name(opt, positional) + make_option_opts(opt),
                   make_option_desc(opt));
    }
    std::string make_subcommand(const CLI::App* sub) const override {
        return row("  " + sub->get_display_name(), sub->get_description());
    }
    std::string make_description(const CLI::App* app) const override {
        const std::string d = app->get_description();
        return d.empty() ? "" : wrap(d, 0, 0) + "\n";
    }
    std::string make_footer(const CLI::App* app) const override {
        const std::string f = app->get_footer();
        return f.empty() ? "" : "\n" + wrap(f, 0, 0) + "\n";
    }

  private:
    static constexpr size_t kColumn = 30;
    static std::string row(const std::string& left, const std::string& text) {
        std::string out = left;
        if (left.size() + 2 > kColumn)
            out += "\n" + std::string(kColumn, ' ');
        else
            out.append(kColumn - left.size(), ' ');
        return out + wrap(text, kColumn, kColumn) + "\n";
    }
};

// A shortcut's choice, by name or by its option byte: bit 1 makes the
// shortcut (the check box starts checked), bit 0 lets the user change that.
CLI::Validator shortcutChoice() {
    return CLI::Validator(
        [](std::string& value) -> std::string {
            static const char* const names[] = {"off", "offered", "forced", "checked"};
            for (int n = 0; n < 4; ++n)
                if (value == names[n] || value == std::to_string(n)) {
                    value = std::to_string(n);
                    return "";
                }
            return "takes off, offered, forced or checked (or 0 to 3), not \"" + value + "\"";
        },
        "", "shortcut choice");
}

CLI::Validator oneOf(const std::vector<std::string>& choices) {
    return CLI::Validator(
        [choices](std::string& value) -> std::string {
            for (const std::string& c : choices)
                if (value == c) return "";
            std::string list;
            for (size_t k = 0; k < choices.size(); ++k)
                list += (k == 0 ? "" : k + 1 == choices.size() ? " or " : ", ") + choices[k];
            return "takes " + list + ", not \"" + value + "\"";
        },
        "", "choice");
}

const char kShortcutText[] =
    ": off (no check box, no shortcut), offered (a check box, unchecked), forced (made; the "
    "check box checked and locked) or checked (a check box, checked); 0 to 3 name them too. "
    "Needs --main-file. Default: off.";

// Options every command that reads a file takes.
void addReadOptions(CLI::App& sub, bool withFolder) {
    sub.add_option("FILE", "the self-extracting file (or, with --archive, a plain .lzh)")
        ->type_name("");
    sub.add_flag("--archive", "FILE is a plain LHA archive, not a self-extracting file");
    sub.add_option("--codepage",
                   "the code page of narrow member names (an iconv name). Default: CP932, the "
                   "code page most archives of this format carry")
        ->type_name("NAME");
#ifndef _WIN32
    if (withFolder)
        sub.add_option("--program-files-folder",
                       "the folder a destination under Program Files resolves to on this "
                       "system. Default: the current folder")
            ->type_name("DIR");
#else
    (void)withFolder;
#endif
}

void addMakeOptions(CLI::App& make) {
    make.add_option("SOURCE",
                    "an LHA archive (taken as it is), or files and folders to pack (a folder "
                    "with everything it holds; \"DIR/\" packs what DIR holds without DIR "
                    "itself)")
        ->type_name("")
        ->expected(-1);
    make.add_option("-o,--output",
                    "the self-extracting file to write; it appears only once it "
                    "is complete (and signed and tested, with --sign-cmd)")
        ->type_name("OUT.exe");
    make.add_option("--config",
                    "read the settings from a TOML file: its keys are the long options' "
                    "names (title = \"My Tool\", program-files = true, sources = [\"dist\"]); "
                    "an option on the command line overrides the file's key; paths in it "
                    "(output, sources, icon, stub) are relative to the file's folder")
        ->type_name("FILE");

    const std::string settings = "Settings (what the recipient's dialog shows)";
    make.add_option("--title",
                    "the dialog's title. Default: Qorn SFX. Every text of the settings holds "
                    "at most 255 UTF-16 units")
        ->type_name("TEXT")
        ->group(settings);
    make.add_option("--destination",
                    "the folder the dialog proposes, as Windows reads it on the recipient's "
                    "machine: absolute (C:\\Tools\\Foo) or relative to the base folder (the "
                    "folder the SFX is run from, or Program Files with --program-files). "
                    "Default: the base folder itself")
        ->type_name("PATH")
        ->group(settings);
    make.add_flag("--program-files",
                  "a relative --destination lies under the recipient's Program Files folder "
                  "instead of the folder the SFX is run from")
        ->group(settings);
    make.add_option("--main-file",
                    "the member the shortcuts point to, by its path in the archive (\\ or / "
                    "between folders, letter case as Windows compares names); it must be a "
                    "member")
        ->type_name("MEMBER")
        ->group(settings);
    for (const char* name : {"start-menu", "desktop", "send-to"}) {
        const std::string what = std::string(name) == "start-menu"
                                     ? std::string("a Start menu shortcut") + kShortcutText
                                 : std::string(name) == "desktop"
                                     ? "a desktop shortcut, chosen as for --start-menu"
                                     : "a shortcut in the Send To menu, chosen as for --start-menu";
        make.add_option(std::string("--") + name)
            ->description(what)
            ->type_name("CHOICE")
            ->transform(shortcutChoice())
            ->group(settings);
    }
    make.add_option("--open",
                    "a member to open once everything is extracted, with the program Windows "
                    "associates with it; by its path in the archive, as --main-file")
        ->type_name("MEMBER")
        ->group(settings);
    make.add_option("--link-name",
                    "the shortcuts' name. Default: the main file's name without its extension")
        ->type_name("NAME")
        ->group(settings);
    make.add_flag("--no-settings",
                  "write no settings: no dialog, the SFX extracts into the folder it is run "
                  "from")
        ->group(settings);

    const std::string installer = "Installer mode";
    make.add_option("--run",
                    "installer mode: the SFX extracts into a new folder of its own under the "
                    "recipient's temporary folder (no dialog, no shortcuts), runs PROGRAM "
                    "there with ARGS and whatever the SFX itself is given (so SFX.exe /S "
                    "runs PROGRAM ARGS /S), waits for it, removes the folder and exits with "
                    "PROGRAM's exit status. PROGRAM is a member, by its path in the archive "
                    "(quoted if it holds a blank); --title is the only setting it takes")
        ->type_name("'PROGRAM ARGS'")
        ->group(installer);

    const std::string packing = "Packing (when SOURCE is files and folders)";
    make.add_option("--method",
                    "the compression method. Default: lh7 (a 64 KiB window; the smallest "
                    "file of the three, and the stub decodes every method equally)")
        ->type_name("lh5|lh6|lh7")
        ->check(oneOf({"lh5", "lh6", "lh7", "-lh5-", "-lh6-", "-lh7-"}))
        ->group(packing);
    make.add_option("--effort",
                    "how hard the encoder searches. Default: default. max: a deeper match "
                    "search and two more passes priced by the codes the last one made; "
                    "0.2 to 1 % smaller, 1.3 to 2 times the time")
        ->type_name("default|max")
        ->check(oneOf({"default", "max"}))
        ->group(packing);
    make.add_option("--level",
                    "the member header level. Default: 2 (UTF-16 names and 64-bit time "
                    "stamps; the stub reads 0 to 3)")
        ->type_name("0..2")
        ->check(oneOf({"0", "1", "2"}))
        ->group(packing);
    make.add_option("--codepage",
                    "the code page narrow names are stored in where they fit (an iconv "
                    "name). Default: CP932")
        ->type_name("NAME")
        ->group(packing);

    const std::string file = "The .exe (its resources, its signature)";
    make.add_option("--stub",
                    "the finished stub to write in front of the payload (with --run, one "
                    "built for installer mode, qornsfx-run-stub.exe). Default: the one built "
                    "into qornsfx")
        ->type_name("STUB.exe")
        ->group(file);
    make.add_option("--icon",
                    "the .exe's icon in place of the stub's, every image of the .ico that "
                    "fits the room below the payload (the smallest first)")
        ->type_name("FILE.ico")
        ->group(file);
    make.add_option("--product-name", "Explorer's Product name (Details tab)")
        ->type_name("TEXT")
        ->group(file);
    make.add_option("--company", "Explorer's Company")->type_name("TEXT")->group(file);
    make.add_option("--description", "Explorer's File description")->type_name("TEXT")->group(file);
    make.add_option("--file-version",
                    "the file and product version: one to four numbers from 0 to 65535, like "
                    "1.2.0.5")
        ->type_name("N.N.N.N")
        ->group(file);
    make.add_option("--execution-level",
                    "the manifest's execution level. Default: highestAvailable "
                    "(asInvoker: no elevation prompt)")
        ->type_name("LEVEL")
        ->group(file);
    make.add_option("--language",
                    "the language of the recipient's dialog and boxes: ja, en, de or fr. "
                    "Default: ja")
        ->type_name("LANG")
        ->group(file);
    make.add_option("--sign-cmd",
                    "a command that signs the finished file, {} standing for its path "
                    "(quoted for the shell); the signed file is then tested and written only "
                    "if the stub reads it as before")
        ->type_name("COMMAND")
        ->group(file);
    make.add_flag("--force",
                  "write the file even when the stub would not extract every member (the "
                  "problems are printed as warnings)")
        ->group(file);
}

struct Tool {
    CLI::App app{"Builds, lists, tests and extracts self-extracting LHA archives for Windows.",
                 "qornsfx"};
    Tool() {
        app.formatter(std::make_shared<WrappingFormatter>());
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.allow_extras();
        app.set_help_flag("-h,--help", "print this help (COMMAND --help: a command's options)");
        app.set_help_all_flag("--help-all", "print the help of every command");
        app.set_version_flag("--version", kVersionText, "print the version");
        app.footer(
            "A command's options: qornsfx COMMAND --help. Exit status: 0 done, 1 failed (a "
            "damaged member, a file that cannot be read or written, an SFX that would not "
            "work), 2 a mistake on the command line or in a config file, 130 interrupted.");

        CLI::App* list = app.add_subcommand(
            "list",
            "show the settings block as stored, where extract would put the files, "
            "and one line per member");
        addReadOptions(*list, true);
        list->add_flag("--json", "print one JSON object instead of the table");

        CLI::App* test = app.add_subcommand(
            "test", "decode every member without keeping it and check its CRC-16");
        addReadOptions(*test, false);
        test->add_flag("--json", "print one JSON object instead of a line per member");

        CLI::App* extract = app.add_subcommand("extract",
                                               "extract every member as the stub would, on this "
                                               "system (no shortcuts, nothing opened)");
        addReadOptions(*extract, true);
        extract
            ->add_option("-d,--directory",
                         "the folder to extract into (made if missing). Default: the "
                         "settings' destination resolved here (see list), else the current "
                         "folder")
            ->type_name("DIR");

        CLI::App* make = app.add_subcommand(
            "make",
            "build a self-extracting file from an LHA archive or from files and "
            "folders. Every member is decoded first as the stub will do it; what "
            "would not work is refused (exit 1) before anything is written");
        addMakeOptions(*make);

        CLI::App* pack =
            app.add_subcommand("pack", "write a plain LHA archive of files and folders");
        pack->add_option("OUT", "the archive to write (OUT.lzh)")->type_name("");
        pack->add_option("SOURCE",
                         "files and folders to pack (a folder with everything it "
                         "holds; \"DIR/\" packs what DIR holds without DIR itself)")
            ->type_name("")
            ->expected(-1);
        pack->add_option("--method",
                         "the compression method. Default: lh5 (an 8 KiB window, the one "
                         "every LHA tool reads)")
            ->type_name("lh5|lh6|lh7")
            ->check(oneOf({"lh5", "lh6", "lh7", "-lh5-", "-lh6-", "-lh7-"}));
        pack->add_option("--effort",
                         "how hard the encoder searches. Default: default. max: a deeper match "
                         "search and two more passes priced by the codes the last one made; "
                         "0.2 to 1 % smaller, 1.3 to 2 times the time")
            ->type_name("default|max")
            ->check(oneOf({"default", "max"}));
        pack->add_option("--level", "the member header level. Default: 2")
            ->type_name("0..2")
            ->check(oneOf({"0", "1", "2"}));
        pack->add_option("--codepage",
                         "the code page narrow names are stored in where they fit (an iconv "
                         "name). Default: CP932")
            ->type_name("NAME");

        for (CLI::App* sub : app.get_subcommands({})) {
            sub->allow_extras();
            sub->set_help_flag("-h,--help", "print this help");
            sub->set_help_all_flag();
            // Headings of their own, so that --help-all (and the manual page
            // made from it) tells the commands apart.
            auto formatter = std::make_shared<WrappingFormatter>();
            formatter->label("Positionals", "Arguments of " + sub->get_name());
            sub->formatter(formatter);
            for (CLI::Option* opt : sub->get_options())
                if (opt->get_group() == "Options") opt->group("Options of " + sub->get_name());
        }
    }
};

// The option's name as the commands ask for it: its long name, else its
// short one, else (a positional) "".
std::string keyOf(const CLI::Option* opt) {
    if (!opt->get_lnames().empty()) return opt->get_lnames()[0];
    if (!opt->get_snames().empty()) return opt->get_snames()[0];
    return "";
}

bool isFlag(const CLI::Option* opt) {
    return opt->get_expected_max() == 0;
}

void collect(const CLI::App& sub, Arguments& args) {
    for (const CLI::Option* opt : sub.get_options()) {
        if (opt->count() == 0) continue;
        const std::string key = keyOf(opt);
        if (key == "help") continue;
        if (key.empty()) {
            for (const std::string& v : opt->results()) args.positional.push_back(v);
        } else if (isFlag(opt)) {
            args.options.emplace_back(key, "");
        } else {
            for (const std::string& v : opt->results()) args.options.emplace_back(key, v);
        }
    }
}

std::vector<std::string> spelledNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::Option* opt : app.get_options()) {
        for (const std::string& l : opt->get_lnames()) names.push_back("--" + l);
        for (const std::string& s : opt->get_snames()) names.push_back("-" + s);
    }
    return names;
}

// The words left over: an option this command does not have, or a value
// where none belongs.
int reportExtras(const CLI::App& sub, const std::vector<std::string>& extras,
                 const std::string& where) {
    const std::string& word = extras.front();
    if (word.size() > 1 && word[0] == '-') {
        const std::string name = word.substr(0, word.find('='));
        const std::string near = nearestWord(name, spelledNames(sub));
        std::fprintf(stderr, "qornsfx: %sunknown option %s%s\n", where.c_str(), name.c_str(),
                     near.empty() ? "" : (" (did you mean " + near + "?)").c_str());
    } else {
        std::fprintf(stderr, "qornsfx: %sunexpected argument \"%s\"\n", where.c_str(),
                     word.c_str());
    }
    return kExitUsage;
}

std::string commandIn(int argc, char** argv, const CLI::App& app) {
    for (int i = 1; i < argc; ++i)
        for (const CLI::App* sub : app.get_subcommands({}))
            if (sub->get_name() == argv[i]) return argv[i];
    return "";
}

CLI::App* subcommand(CLI::App& app, const std::string& name) {
    for (CLI::App* sub : app.get_subcommands({}))
        if (sub->get_name() == name) return sub;
    return nullptr;
}

std::vector<std::string> commandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands({})) names.push_back(sub->get_name());
    return names;
}

}  // namespace

std::string nearestWord(const std::string& word, const std::vector<std::string>& candidates) {
    std::string best;
    size_t bestDistance = static_cast<size_t>(-1);
    for (const std::string& c : candidates) {
        // Levenshtein distance, one row at a time.
        std::vector<size_t> row(c.size() + 1);
        for (size_t j = 0; j <= c.size(); ++j) row[j] = j;
        for (size_t i = 1; i <= word.size(); ++i) {
            size_t diagonal = row[0];
            row[0] = i;
            for (size_t j = 1; j <= c.size(); ++j) {
                const size_t above = row[j];
                row[j] = std::min(
                    {row[j] + 1, row[j - 1] + 1, diagonal + (word[i - 1] == c[j - 1] ? 0 : 1)});
                diagonal = above;
            }
        }
        if (row[c.size()] < bestDistance) {
            bestDistance = row[c.size()];
            best = c;
        }
    }
    // A third of the word may be wrong, and always two letters (a swap).
    const size_t allowed = std::max<size_t>(2, word.size() / 3);
    return bestDistance <= allowed ? best : "";
}

int parseCommandLine(int argc, char** argv, ParsedCommand& command) {
    Tool tool;
    CLI::App& app = tool.app;
    const std::string name = commandIn(argc, argv, app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        CLI::App* sub = subcommand(app, name);
        std::fputs(sub ? sub->help("qornsfx").c_str() : app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::CallForAllHelp&) {
        std::string text = app.help();
        for (const CLI::App* sub : app.get_subcommands({})) {
            std::string part = sub->help("qornsfx");
            const size_t footer = part.rfind("\n\n");
            if (footer != std::string::npos) part.resize(footer + 1);
            const size_t usage = part.find("Usage:");
            if (usage != std::string::npos) part.insert(usage, "\n");
            text += "\n" + part;
        }
        std::fputs(text.c_str(), stdout);
        return 0;
    } catch (const CLI::CallForVersion&) {
        std::printf("%s\n", kVersionText);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "qornsfx: %s%s\nqornsfx: see qornsfx %s--help\n",
                     name.empty() ? "" : (name + ": ").c_str(), e.what(),
                     name.empty() ? "" : (name + " ").c_str());
        return kExitUsage;
    }
    const std::vector<CLI::App*> parsed = app.get_subcommands();
    if (parsed.empty()) {
        const std::vector<std::string> extras = app.remaining();
        if (extras.empty()) {
            std::fprintf(stderr, "qornsfx: no command given\n%s", app.help().c_str());
            return kExitUsage;
        }
        const std::string& word = extras.front();
        if (word[0] == '-') return reportExtras(app, extras, "");
        const std::string near = nearestWord(word, commandNames(app));
        std::fprintf(stderr,
                     "qornsfx: unknown command \"%s\"%s; the commands are list, test, "
                     "extract, make and pack (qornsfx --help)\n",
                     word.c_str(), near.empty() ? "" : (" (did you mean " + near + "?)").c_str());
        return kExitUsage;
    }
    const CLI::App& sub = *parsed.front();
    // Words before the command belong to no command.
    if (!app.remaining().empty()) return reportExtras(app, app.remaining(), "");
    if (!sub.remaining().empty()) return reportExtras(sub, sub.remaining(), sub.get_name() + ": ");
    command.name = sub.get_name();
    collect(sub, command.args);
    return -1;
}

int parseOptionList(const std::string& subcommandName, const std::vector<std::string>& text,
                    const std::string& where, Arguments& args) {
    Tool tool;
    CLI::App* sub = subcommand(tool.app, subcommandName);
    std::vector<std::string> words = text;
    words.insert(words.begin(), subcommandName);
    std::reverse(words.begin(), words.end());  // CLI11 takes a vector backwards
    try {
        tool.app.parse(words);
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "qornsfx: %s%s\n", where.c_str(), e.what());
        return kExitUsage;
    }
    if (!sub->remaining().empty()) return reportExtras(*sub, sub->remaining(), where);
    collect(*sub, args);
    return 0;
}

void optionNames(const std::string& subcommandName, std::vector<std::string>& valued,
                 std::vector<std::string>& flags) {
    Tool tool;
    const CLI::App* sub = subcommand(tool.app, subcommandName);
    for (const CLI::Option* opt : sub->get_options()) {
        if (opt->get_lnames().empty()) continue;
        const std::string key = opt->get_lnames()[0];
        if (key == "help") continue;
        (isFlag(opt) ? flags : valued).push_back(key);
    }
}

}  // namespace qorn::tool
