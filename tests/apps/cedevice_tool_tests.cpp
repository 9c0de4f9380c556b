// cedevice as a person uses it: what it refuses, how it names mistakes, its exit codes and
// its machine-readable output.
#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tests/support/device_test.h"
#include "tests/support/tool_run.h"

namespace {

using ce::test::runCedevice;
using ce::test::shellQuoted;
using ce::test::ToolRun;
using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

namespace fs = std::filesystem;

class CedeviceToolTest : public ce::test::DeviceTest {
 protected:
  ToolRun cedevice(const std::vector<std::string>& args) { return runCedevice(home(), args); }
  void init() { ASSERT_EQ(cedevice({"init"}).exitCode, 0); }
  ToolRun pim(std::vector<std::string> args) {
    args.insert(args.begin(), "pim");
    return cedevice(args);
  }

  // The tool on a home that may not exist, with `redirect` appended to the command line.
  ToolRun onHome(const std::string& deviceHome, const std::vector<std::string>& args,
                 const std::string& redirect = "") {
    return ce::test::runShell(ce::test::cedeviceCommand(deviceHome, args) + redirect,
                              home() + "/.tool.err");
  }
};

TEST_F(CedeviceToolTest, HomesWithoutADeviceAreRefusedAndLeftAsTheyWere) {
  const std::vector<std::vector<std::string>> readers = {
      {"status"}, {"log"}, {"schedule"}, {"reg", "get", "HKLM"}, {"reg", "export"},
      {"pim", "list"}, {"send", "close"}, {"shutdown"}};
  std::string typo = home() + "/no-such-device";
  for (const auto& args : readers) {
    ToolRun run = onHome(typo, args);
    EXPECT_EQ(run.exitCode, 1) << args[0];
    EXPECT_THAT(run.err, HasSubstr("no device in " + typo + " (run `cedevice init`)")) << args[0];
    EXPECT_FALSE(fs::exists(typo)) << args[0] << " created the home";
  }
  // An existing but empty folder stays empty too.
  EXPECT_EQ(cedevice({"status"}).exitCode, 1);
  EXPECT_FALSE(fs::exists(home() + "/system"));
  EXPECT_FALSE(fs::exists(home() + "/fs"));
  // Asking for help needs no device, and `help COMMAND` is COMMAND's own help.
  EXPECT_EQ(onHome(typo, {"status", "--help"}).exitCode, 0);
  ToolRun help = onHome(typo, {"help", "send", "suspend"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out, cedevice({"send", "suspend", "--help"}).out);
  EXPECT_THAT(help.out, HasSubstr("cedevice send suspend"));
  EXPECT_FALSE(fs::exists(typo));
}

// Every usage mistake is one lower-case line that names the word at fault (and the nearest
// right one) and the command it was given to, then the usage line and where to read more,
// exit 2; found before the device is looked for (the home here holds none).
TEST_F(CedeviceToolTest, UsageMistakesAreNamedInTheToolsOwnWordsAndExit2) {
  struct Case {
    std::vector<std::string> args;
    std::string message;
    std::string command;
    std::string more = "for more information.";
  };
  const std::string commands = "for the list of commands.";
  const Case cases[] = {
      {{"statsu"}, "unknown command 'statsu' (did you mean 'status'?)", "cedevice", commands},
      {{"frobnicate"}, "unknown command 'frobnicate'", "cedevice", commands},
      {{"help", "sned"}, "unknown command 'sned' (did you mean 'send'?)", "cedevice", commands},
      {{"reg", "lsit", "HKLM"},
       "unknown command 'lsit' for 'cedevice reg' (did you mean 'list'?)", "cedevice reg",
       commands},
      {{"--bogus"}, "unknown option '--bogus'", "cedevice"},
      {{"--bogus", "status"}, "unknown option '--bogus'", "cedevice status"},
      {{"status", "--jsno"},
       "unknown option '--jsno' for 'cedevice status' (did you mean '--json'?)",
       "cedevice status"},
      {{"status", "extra"}, "unexpected argument 'extra' for 'cedevice status'",
       "cedevice status"},
      {{}, "missing command: init, boot, shutdown, status, log, pim, send, reg, schedule, "
           "scheduler, home or help", "cedevice"},
      {{"pim"}, "missing command for 'cedevice pim': add, change, delete or list",
       "cedevice pim"},
      {{"pim", "add"}, "missing argument 'kind' for 'cedevice pim add'", "cedevice pim add"},
      {{"pim", "add", "contcat", "Ann"},
       "invalid kind 'contcat' for 'cedevice pim add' (did you mean 'contact'?)",
       "cedevice pim add"},
      {{"pim", "add", "note", "x"},
       "invalid kind 'note' for 'cedevice pim add' (use contact, contacts, appointment, "
       "appointments, calendar, task or tasks)",
       "cedevice pim add"},
      {{"send", "suspend", "contact"},
       "invalid SOURCE 'contact' for 'cedevice send suspend' (did you mean 'contacts'?)",
       "cedevice send suspend"},
      {{"send", "refresh", "zzz"},
       "invalid FOLDER 'zzz' for 'cedevice send refresh' (use briefcase, notes or pictures)",
       "cedevice send refresh"},
      {{"log", "-n", "many"},
       "invalid --lines 'many' for 'cedevice log' (a number from 0 to 1000000)", "cedevice log"},
      {{"status", "--home"}, "unknown option '--home' for 'cedevice status'", "cedevice status"},
      {{"--home"}, "missing value of '--home'", "cedevice"},
      {{"reg", "set", "--type"}, "missing value of '--type' for 'cedevice reg set'",
       "cedevice reg set"},
      // The word after a mistyped option is its value, not an unknown command.
      {{"--hme", "x", "status"}, "unknown option '--hme' (did you mean '--home'?)", "cedevice",
       commands},
      // One letter is no typing mistake of another: -V is not -h.
      {{"-V"}, "unknown option '-V' (did you mean '--version'?)", "cedevice"},
      {{"pim", "delete", "abc"}, "invalid id 'abc' for 'cedevice pim delete'",
       "cedevice pim delete"},
      {{"reg", "import", "--max-size", "0", "x.reg"},
       "invalid --max-size '0' for 'cedevice reg import' (a number from 1 to 4096)",
       "cedevice reg import"},
      {{"docs", "roff"}, "invalid format 'roff' for 'cedevice docs' (use man or markdown)",
       "cedevice docs"},
  };
  for (const Case& c : cases) {
    std::string shown;
    for (const auto& arg : c.args) shown += " " + arg;
    ToolRun run = cedevice(c.args);  // after --home HOME
    EXPECT_EQ(run.exitCode, 2) << shown;
    EXPECT_EQ(run.out, "") << shown;
    std::string first = run.err.substr(0, run.err.find('\n'));
    EXPECT_EQ(first, "cedevice: " + c.message) << shown;
    EXPECT_THAT(run.err, HasSubstr("\nUsage: " + c.command + " ")) << shown;
    EXPECT_THAT(run.err, HasSubstr("\nRun `" + c.command + " --help` " + c.more + "\n")) << shown;
  }
  EXPECT_FALSE(fs::exists(home() + "/system"));
}

TEST_F(CedeviceToolTest, PimTakesEveryFormOfAFolderNameEverywhere) {
  init();
  // Added by one name, listed by another: each item lands in its folder and only there.
  const struct {
    const char* added;
    const char* listed;
    const char* folder;
  } forms[] = {
      {"contacts", "contact", "contacts"},       {"contact", "contacts", "contacts"},
      {"appointment", "calendar", "calendar"},   {"calendar", "appointments", "calendar"},
      {"appointments", "appointment", "calendar"}, {"tasks", "task", "tasks"},
      {"task", "tasks", "tasks"},
  };
  for (const auto& form : forms) {
    ToolRun added = pim({"add", form.added, std::string("by ") + form.added});
    ASSERT_EQ(added.exitCode, 0) << form.added << ": " << added.err;
    ToolRun listed = pim({"list", form.listed, "--json"});
    ASSERT_EQ(listed.exitCode, 0) << form.listed << ": " << listed.err;
    bool found = false;
    for (const auto& item : nlohmann::json::parse(listed.out)) {
      EXPECT_EQ(item["folder"], form.folder) << form.listed;
      found = found || item["subject"] == std::string("by ") + form.added;
    }
    EXPECT_TRUE(found) << form.added << " not listed by " << form.listed;
  }
  EXPECT_EQ(pim({"list", "contacts"}).out.find("by task"), std::string::npos);
}

// What `cedevice __complete` offers, the words the completion scripts show. The device is
// the test's home ($CE_DEVICE_HOME) unless the words give --home.
class CompletionTest : public CedeviceToolTest {
 protected:
  // The answer's lines: its heading line (":dir", ":commands\tcommand", ...) first.
  std::vector<std::string> answer(const std::vector<std::string>& words) {
    std::string command = shellQuoted(ce::test::cedevicePath()) + " __complete";
    for (const auto& word : words) command.append(" ").append(shellQuoted(word));
    ToolRun run = ce::test::runShell(command, home() + "/.complete.err");
    EXPECT_EQ(run.exitCode, 0) << run.err;
    std::vector<std::string> lines;
    std::istringstream text(run.out);
    for (std::string line; std::getline(text, line);) lines.push_back(line);
    return lines;
  }
  // The words offered, without what they are; ":dir" or ":file" where the shell offers those.
  std::vector<std::string> offered(const std::vector<std::string>& words) {
    std::vector<std::string> lines = answer(words);
    if (lines.size() == 1 && (lines[0] == ":dir" || lines[0] == ":file")) return lines;
    std::vector<std::string> offered;
    for (size_t i = 1; i < lines.size(); ++i)
      offered.push_back(lines[i].substr(0, lines[i].find('\t')));
    return offered;
  }
  std::string heading(const std::vector<std::string>& words) {
    std::vector<std::string> lines = answer(words);
    return lines.empty() ? "" : lines[0];
  }
};

TEST_F(CompletionTest, EachPlaceOffersWhatTheCommandsTake) {
  using ::testing::Contains;
  using ::testing::ElementsAre;
  using ::testing::IsSupersetOf;
  // The value of an option, not the command's arguments.
  EXPECT_THAT(offered({"reg", "set", "--type", ""}),
              ElementsAre("sz", "expand_sz", "multi_sz", "dword", "qword", "binary"));
  EXPECT_THAT(offered({"reg", "set", "-t", "dw"}), Contains("dword"));
  // help takes the command words, and only those.
  EXPECT_THAT(offered({"help", "reg", ""}),
              ElementsAre("get", "set", "delete", "list", "export", "import"));
  EXPECT_THAT(offered({"help", ""}), IsSupersetOf({"init", "boot", "status", "reg"}));
  EXPECT_THAT(offered({"help", ""}), Not(Contains("help")));
  EXPECT_THAT(offered({"help", "status", ""}), ElementsAre());
  // --home's value is a folder, and the commands come after it.
  EXPECT_THAT(offered({"--home", ""}), ElementsAre(":dir"));
  EXPECT_THAT(offered({"--home", "/tmp/d", "st"}), IsSupersetOf({"status", "shutdown"}));
  EXPECT_THAT(offered({"reg", "import", ""}), ElementsAre(":file"));
  EXPECT_THAT(offered({"pim", "add", ""}), IsSupersetOf({"contact", "contacts", "task"}));
  EXPECT_THAT(offered({"pim", "list", ""}), IsSupersetOf({"contacts", "calendar", "tasks"}));
  EXPECT_THAT(offered({"send", "resume", ""}), IsSupersetOf({"contacts", "pictures", "all"}));
  EXPECT_THAT(offered({"log", "-"}), IsSupersetOf({"--follow", "--lines", "--until-shutdown"}));
  EXPECT_THAT(offered({"log", "-n", ""}), ElementsAre());
  // A command that takes no arguments offers nothing after it; the look for a last argument
  // that takes more must not read past an empty list (a crash, or words from nowhere).
  EXPECT_THAT(offered({"status", ""}), ElementsAre());
  EXPECT_THAT(offered({"init", "x", ""}), ElementsAre());
  EXPECT_THAT(offered({""}), IsSupersetOf({"init", "boot", "help"}));
  EXPECT_THAT(offered({""}), Not(Contains("docs")));
  EXPECT_THAT(offered({"-"}), IsSupersetOf({"--home", "--help", "--version"}));
}

// Keys, value names and item ids come from the device itself: keys one level at a time below
// what is typed, from the home the words name, else the default one.
TEST_F(CompletionTest, DeviceDataComesFromTheHomeNamed) {
  using ::testing::AllOf;
  using ::testing::Contains;
  using ::testing::ElementsAre;
  init();
  const std::vector<std::vector<std::string>> changes = {
      {"reg", "set", "HKLM\\Software\\Alpha\\Deep", "inner", "x"},
      {"reg", "set", "HKLM\\Software\\Alpha", "second", "x"},
      {"reg", "set", "HKLM\\Software\\Alpha", "first value", "x"},
      {"reg", "set", "HKLM\\Software\\Alpha", "", "the default value"},
      {"pim", "add", "contact", "Ann"},
      {"pim", "add", "task", "Pay\tthe rent"}};
  for (const auto& change : changes) ASSERT_EQ(cedevice(change).exitCode, 0) << change[2];

  EXPECT_THAT(offered({"reg", "list", "HKLM\\Software\\"}),
              AllOf(Contains("HKLM\\Software\\Alpha\\"), Contains("HKLM\\Software\\Quillbex\\"),
                    Not(Contains("HKLM\\Software\\Alpha\\Deep\\"))));
  // The device finds a key whatever its case; what is typed keeps its own.
  EXPECT_THAT(offered({"reg", "get", "hklm\\SOFTWARE\\alpha\\D"}),
              ElementsAre("hklm\\SOFTWARE\\alpha\\Deep\\"));
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\Nothing\\"}), ElementsAre());
  EXPECT_THAT(offered({"reg", "get", "HKCU\\"}), ElementsAre());
  EXPECT_THAT(offered({"reg", "export", ""}), AllOf(Contains("HKLM\\"), Contains("Software\\")));
  EXPECT_EQ(heading({"reg", "delete", "HKLM\\"}), ":keys\tregistry key");

  // The value names of the key given before, options in between or not, in the order they
  // were made; the default value has no name to offer.
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\Alpha", ""}),
              ElementsAre("second", "first value"));
  EXPECT_THAT(offered({"reg", "set", "-t", "dword", "hklm\\software\\alpha\\", "s"}),
              ElementsAre("second", "first value"));
  EXPECT_EQ(heading({"reg", "delete", "HKLM\\Software\\Alpha", ""}),
            ":value-names\tvalue name in HKEY_LOCAL_MACHINE\\Software\\Alpha");
  EXPECT_THAT(offered({"reg", "set", "HKLM\\Software\\Alpha", "second", ""}), ElementsAre());

  // Item ids, each with what it is on one line.
  EXPECT_THAT(answer({"pim", "delete", ""}),
              ElementsAre(":items\tPIM item id", "1\tcontact: Ann", "2\ttask: Pay\\x09the rent"));
  EXPECT_THAT(offered({"pim", "change", ""}), ElementsAre("1", "2"));
  EXPECT_THAT(offered({"pim", "change", "1", ""}), ElementsAre());

  // Another home, by either form of --home: its device alone.
  std::string other = home() + "/other";
  ASSERT_EQ(runCedevice(other, {"init"}).exitCode, 0);
  ASSERT_EQ(runCedevice(other, {"reg", "set", "HKLM\\Software\\Beta", "v", "x"}).exitCode, 0);
  EXPECT_THAT(offered({"--home", other, "pim", "delete", ""}), ElementsAre());
  EXPECT_THAT(offered({"--home=" + other, "reg", "get", "HKLM\\Software\\"}),
              AllOf(Contains("HKLM\\Software\\Beta\\"), Not(Contains("HKLM\\Software\\Alpha\\"))));
}

// A completion only looks: it creates no home and no store, changes no file of a device, and
// reads nothing from a home that others could have planted stores in.
TEST_F(CompletionTest, CompletingChangesNothingAndTrustsNoOtherHome) {
  using ::testing::Contains;
  using ::testing::ElementsAre;
  std::string missing = home() + "/missing";
  EXPECT_THAT(offered({"--home", missing, "reg", "get", "HKLM\\"}), ElementsAre());
  EXPECT_THAT(offered({"--home", missing, "pim", "delete", ""}), ElementsAre());
  EXPECT_FALSE(fs::exists(missing));

  init();
  ASSERT_EQ(cedevice({"reg", "set", "HKLM\\Software\\Alpha", "v", "x"}).exitCode, 0);
  // Every file of the home with its size and time: a store opened for writing, upgraded,
  // created or given a log or an index beside it shows here.
  auto files = [&] {
    std::vector<std::string> listing;
    for (const auto& entry : fs::recursive_directory_iterator(home())) {
      if (!entry.is_regular_file() || entry.path().filename().string().front() == '.') continue;
      listing.push_back(entry.path().string() + " " + std::to_string(entry.file_size()) + " " +
                        std::to_string(entry.last_write_time().time_since_epoch().count()));
    }
    std::sort(listing.begin(), listing.end());
    return listing;
  };
  const std::vector<std::string> before = files();
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\"}), Contains("HKLM\\Software\\Alpha\\"));
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\Alpha", ""}), ElementsAre("v"));
  EXPECT_THAT(offered({"pim", "delete", ""}), ElementsAre());
  EXPECT_EQ(files(), before);
  // A log whose index is gone: reading through it would make the index.
  ce::test::writeFile(hostPath("system/registry.db-wal"), "");
  const std::vector<std::string> withLog = files();
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\"}), Contains("HKLM\\Software\\Alpha\\"));
  EXPECT_EQ(files(), withLog);

  fs::permissions(hostPath("system"), fs::perms::others_write, fs::perm_options::add);
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\"}), ElementsAre());
}

// While the device runs, the listener keeps the registry open, so what a tool commits stays in
// the store's log until a checkpoint: a completion reads the log too.
TEST_F(CompletionTest, OffersWhatARunningDeviceHasNotCheckpointedYet) {
  using ::testing::Contains;
  init();
  ToolRun boot = cedevice({"boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.err;
  ASSERT_EQ(cedevice({"reg", "set", "HKLM\\Software\\WhileRunning", "v", "x"}).exitCode, 0);
  EXPECT_TRUE(fs::exists(hostPath("system/registry.db-wal")));
  EXPECT_THAT(offered({"reg", "get", "HKLM\\Software\\"}),
              Contains("HKLM\\Software\\WhileRunning\\"));
  EXPECT_EQ(cedevice({"shutdown"}).exitCode, 0);
}

// The bash script as bash runs it, without the bash-completion package and, where it is
// installed, with it: the words of the running tool, read back from what is typed as the
// shell would pass it, offered quoted as the shell reads them back, and nothing on standard
// error. The words in COMP_WORDS are as typed, quotes and backslashes included.
TEST_F(CompletionTest, BashScriptOffersTheToolsWordsWithOrWithoutBashCompletion) {
  std::vector<std::string> preambles{""};
  const std::string package = "/usr/share/bash-completion/bash_completion";
  if (fs::exists(package)) preambles.push_back("source " + package + " && ");
  std::string tool = shellQuoted(ce::test::cedevicePath());
  fs::create_directories(home() + "/devices/one");
  init();
  ASSERT_EQ(cedevice({"reg", "set", "HKLM\\Software\\Alpha", "first value", "x"}).exitCode, 0);
  ASSERT_EQ(cedevice({"reg", "set", "HKLM\\Software\\Alpha", "*", "x"}).exitCode, 0);
  std::string other = home() + "/devices/two";
  ASSERT_EQ(runCedevice(other, {"init"}).exitCode, 0);
  ASSERT_EQ(runCedevice(other, {"reg", "set", "HKLM\\Software\\Beta", "v", "x"}).exitCode, 0);
  for (const std::string& preamble : preambles) {
    auto complete = [&](const std::string& words, int cword) {
      std::string script =
          // In a folder with entries, which a name read as a pattern would match.
          "cd " + shellQuoted(home() + "/devices") + " && " + preamble + "source " +
          shellQuoted(CE_SOURCE_DIR "/packaging/cedevice.bash-completion") +
          " && COMP_WORDS=(" + words + ") && COMP_CWORD=" + std::to_string(cword) +
          " && COMP_LINE=\"${COMP_WORDS[*]}\" && COMP_POINT=${#COMP_LINE}" +
          " && _cedevice; printf '%s\\n' \"${COMPREPLY[@]}\"";
      ToolRun run = ce::test::runShell("env -u BASH_ENV bash --norc --noprofile -c " +
                                           shellQuoted(script),
                                       home() + "/.bash.err");
      EXPECT_EQ(run.err, "") << preamble << words;
      return run.out;
    };
    EXPECT_EQ(complete(tool + " help reg e", 3), "export\n") << preamble;
    // A key typed with its backslashes escaped, or in single quotes (left open, since the key
    // may go on), and a value name with a space.
    EXPECT_EQ(complete(tool + " reg get 'HKLM\\\\Software\\\\Al'", 3),
              "HKLM\\\\Software\\\\Alpha\\\\\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get \"'HKLM\\\\Software\\\\Al\"", 3),
              "'HKLM\\Software\\Alpha\\\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get 'HKLM\\\\Software\\\\Alpha' fi", 4),
              "first\\ value\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get 'HKLM\\\\Software\\\\Alpha' ''", 4),
              "first\\ value\n\\*\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get \"'HKLM\\Software\\Alpha'\" \"'fi\"", 4),
              "'first value'\n") << preamble;
    // The device's names match in any case; a word begun with a double quote is offered in
    // one, its backslashes doubled and the quote left open after a key.
    EXPECT_EQ(complete(tool + " reg get 'HKLM\\\\Software\\\\Alpha' FI", 4),
              "first\\ value\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get 'hklm\\\\software\\\\al'", 3),
              "hklm\\\\software\\\\Alpha\\\\\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get '\"HKLM\\Software\\Al'", 3),
              "\"HKLM\\\\Software\\\\Alpha\\\\\n") << preamble;
    EXPECT_EQ(complete(tool + " reg get 'HKLM\\\\Software\\\\Alpha' '\"fi'", 4),
              "\"first value\"\n") << preamble;
    EXPECT_EQ(complete(tool + " help reg E", 3), "\n") << preamble;  // commands as spelt
    // The device of the home given before, in each form bash may split it into.
    const struct {
      std::string words;
      int count;
    } homes[] = {{" --home " + shellQuoted(other), 2},
                 {" --home = " + shellQuoted(other), 3},
                 {" --home=" + shellQuoted(other), 1}};
    for (const auto& [given, count] : homes) {
      EXPECT_EQ(complete(tool + given + " reg get 'HKLM\\\\Software\\\\B'", count + 3),
                "HKLM\\\\Software\\\\Beta\\\\\n") << preamble << given;
    }
    // A folder for --home: the shell's own folder names.
    EXPECT_EQ(complete(tool + " --home " + shellQuoted(home() + "/devices/o"), 2),
              home() + "/devices/one\n") << preamble;
    // And for --home=, which bash splits at "=": readline replaces what follows it.
    EXPECT_EQ(complete(tool + " --home = " + shellQuoted(home() + "/devices/o"), 3),
              home() + "/devices/one\n") << preamble;
  }
}

// The zsh function with compsys's own functions replaced by ones that print what they are
// given: the group's tag and heading, the words in _describe's "word:what" form (a key's
// backslashes escaped), no space after a key, and --home='s value as a folder.
TEST_F(CompletionTest, ZshFunctionHandsEachGroupToCompsysWithItsHeading) {
  if (std::system("command -v zsh >/dev/null 2>&1") != 0) GTEST_SKIP() << "no zsh";
  init();
  ASSERT_EQ(cedevice({"reg", "set", "HKLM\\Software\\Alpha", "v", "x"}).exitCode, 0);
  ASSERT_EQ(cedevice({"pim", "add", "contact", "Ann"}).exitCode, 0);
  auto complete = [&](const std::vector<std::string>& words) {
    std::string call = "run " + shellQuoted(ce::test::cedevicePath());
    for (const auto& word : words) call += " " + shellQuoted(word);
    std::string script =
        "_describe() { print -r -- \"describe $1 $2 [$3] ${@[5,-1]}\";"
        " print -rl -- \"${(@P)4}\" };"
        " _files() { print -r -- \"files $*\" };"
        " compset() { PREFIX=${PREFIX#*=} };"
        " run() { words=(\"${(@)argv[1,-2]}\"); PREFIX=$argv[-1]; CURRENT=$#;"
        " source " + shellQuoted(CE_SOURCE_DIR "/packaging/_cedevice") + " };" + call;
    ToolRun run = ce::test::runShell("zsh -f -c " + shellQuoted(script), home() + "/.zsh.err");
    EXPECT_EQ(run.err, "");
    return run.out;
  };
  // Keys and value names match in any case, as the device finds them.
  const std::string anyCase = "-M m:{[:lower:][:upper:]}={[:upper:][:lower:]}";
  EXPECT_EQ(complete({"reg", "get", "HKLM\\\\Software\\\\A"}),
            "describe -t keys [registry key] -S  " + anyCase +
                "\nHKLM\\\\Software\\\\Alpha\\\\\nHKLM\\\\Software\\\\Quillbex\\\\\n");
  EXPECT_EQ(complete({"pim", "delete", ""}), "describe -t items [PIM item id] \n1:contact: Ann\n");
  EXPECT_EQ(complete({"reg", "get", "HKLM\\\\Software\\\\Alpha", ""}),
            "describe -t value-names [value name in HKEY_LOCAL_MACHINE\\Software\\Alpha] " +
                anyCase + "\nv\n");
  EXPECT_EQ(complete({"--home=" + home() + "/sy"}), "files -/\n");
  EXPECT_THAT(complete({"reg", ""}),
              StartsWith("describe -t commands [command of cedevice reg] \nget:"));
}

// The device finds a folder whatever its case: init uses the user's "My documents" and
// "NOTES" instead of making "My Documents" and "Notes" beside them (twins that were watched
// while the user's folders were not).
TEST_F(CedeviceToolTest, InitUsesExistingFoldersWhateverTheirCase) {
  fs::create_directories(hostPath("fs/My documents/NOTES"));
  fs::create_directories(hostPath("fs/program files"));
  init();
  auto entries = [&](const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(hostPath("fs/" + folder)))
      names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
  };
  EXPECT_EQ(entries(""), (std::vector<std::string>{"My documents", "program files"}));
  EXPECT_EQ(entries("My documents"), (std::vector<std::string>{"Briefcase", "My Pictures", "NOTES"}));
  EXPECT_TRUE(fs::exists(hostPath("fs/program files/Quillbex/startsync.exe")));
  init();  // and again, with everything there
  EXPECT_EQ(entries(""), (std::vector<std::string>{"My documents", "program files"}));
}

TEST_F(CedeviceToolTest, StoppedDeviceStatusExits3AndJsonOutputsParse) {
  init();
  // Another program may keep the list as a number: it reads as one.
  ASSERT_EQ(cedevice({"reg", "set", "--type", "dword", "HKLM\\Software\\Quillbex\\SyncclientPIM",
                      "clientPushList", "18"}).exitCode, 0);
  ToolRun text = cedevice({"status"});
  EXPECT_EQ(text.exitCode, 3);
  EXPECT_THAT(text.out, HasSubstr("listener: not running"));
  EXPECT_THAT(text.out, HasSubstr("clientPushList: 18 (contacts,notes)"));
  ToolRun status = cedevice({"status", "--json"});
  EXPECT_EQ(status.exitCode, 3);
  auto json = nlohmann::json::parse(status.out);
  EXPECT_EQ(json["listener"]["running"], false);
  EXPECT_EQ(json["clientPushList"]["value"], 18);
  EXPECT_EQ(json["clientPushList"]["sources"], nlohmann::json({"contacts", "notes"}));

  ToolRun schedule = cedevice({"schedule", "--json"});
  ASSERT_EQ(schedule.exitCode, 0);
  EXPECT_EQ(nlohmann::json::parse(schedule.out), nlohmann::json::array());
}

TEST_F(CedeviceToolTest, FilesThatCannotBeReadOrWrittenFailWithTheSystemsReason) {
  init();
  ToolRun missing = cedevice({"reg", "import", home() + "/missing.reg"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_THAT(missing.err,
              HasSubstr("cannot open " + home() + "/missing.reg: No such file or directory"));

  ToolRun full = onHome(home(), {"schedule", "--json"}, " >/dev/full");
  EXPECT_EQ(full.exitCode, 1);
  EXPECT_THAT(full.err, HasSubstr("cannot write standard output: No space left on device"));
  // The log's own writer gave no reason.
  std::ofstream(home() + "/fs/notlstnr.txt") << "a line\n";
  ToolRun log = onHome(home(), {"log"}, " >/dev/full");
  EXPECT_EQ(log.exitCode, 1);
  EXPECT_THAT(log.err, HasSubstr("cannot write standard output: No space left on device"));
}

// A reader that stops early (`| head`) is an output that cannot be written: exit 1 with the
// reason, not death by SIGPIPE (141). The pipe's reading end is closed before the tool
// starts, so every write fails, whatever the timing.
TEST_F(CedeviceToolTest, AClosedPipeIsAWriteFailureNotASignal) {
  init();
  std::string python = "import os, subprocess, sys\n"
                       "r, w = os.pipe()\n"
                       "os.close(r)\n"
                       "sys.exit(subprocess.call(sys.argv[1:], stdout=w))\n";
  ToolRun run = ce::test::runShell(
      "python3 -c " + shellQuoted(python) + " " + shellQuoted(ce::test::cedevicePath()) +
          " --home " + shellQuoted(home()) + " reg export",
      home() + "/.pipe.err");
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_THAT(run.err, HasSubstr("cannot write"));
}

// A value the command itself refuses is a usage mistake too: its usage line follows, and the
// value is left unset.
TEST_F(CedeviceToolTest, DataTheCommandRefusesEndsWithItsUsageLine) {
  init();
  ToolRun run = cedevice({"reg", "set", "-t", "dword", "HKLM\\Software\\Test", "v", "abc"});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_THAT(run.err, StartsWith("cedevice: not a dword: abc\nUsage: cedevice reg set "));
  EXPECT_THAT(run.err, HasSubstr("\nRun `cedevice reg set --help` for more information.\n"));
  EXPECT_EQ(cedevice({"reg", "list", "HKLM\\Software\\Test"}).exitCode, 1);
}

// --help fits the width it is read in: 80 columns in a pipe, whatever the descriptions' length.
TEST_F(CedeviceToolTest, HelpIsWrappedToEightyColumnsWhenNotATerminal) {
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"--help"}, {"reg", "--help"}, {"reg", "set", "--help"},
        {"boot", "--help"}, {"log", "--help"}}) {
    ToolRun help = cedevice(args);
    ASSERT_EQ(help.exitCode, 0) << args[0];
    std::istringstream lines(help.out);
    for (std::string line; std::getline(lines, line);)
      EXPECT_LE(line.size(), 80u) << args[0] << ": " << line;
  }
  // Prose is wrapped as one paragraph, not line by line: a line at the margin, or one that
  // goes on below an indented list entry, never leaves room for the next line's first word.
  // Wrapping the source's own line breaks one at a time gave a long line and a short one in
  // turn.
  for (const auto& [args, footerStart] :
       std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--help"}, "Every command works"},
           {{"init", "--help"}, "Creates what is missing"},
           {{"send", "--help"}, "The messages other processes"}}) {
    std::string out = cedevice(args).out;
    ASSERT_NE(out.find(footerStart), std::string::npos) << out;
    std::istringstream lines(out.substr(out.find(footerStart)));
    std::string before;
    for (std::string line; std::getline(lines, line); before = line) {
      std::size_t indent = line.find_first_not_of(' ');
      if (before.empty() || indent == std::string::npos || indent == 2) continue;
      if (indent == 0 && before.front() == ' ') continue;
      std::string firstWord = line.substr(indent, line.find(' ', indent) - indent);
      EXPECT_GT(before.size() + 1 + firstWord.size(), 80u) << before << "\n" << line;
    }
  }
  // A literal line too long for the width is broken, but its columns stay lined up.
  EXPECT_THAT(cedevice({"send", "--help"}).out,
              HasSubstr("\n  send refresh FOLDER    WM_COMMAND to that folder's window:"));
  // Nothing is lost or reordered on the way: a description broken over four lines reads
  // as it was written once the breaks and the column's indentation are taken out.
  std::istringstream words(cedevice({"reg", "--help"}).out);
  std::string flowing;
  for (std::string word; words >> word;) flowing += word + " ";
  EXPECT_THAT(flowing, HasSubstr("export Write a key and everything below it (default: all of "
                                 "HKEY_LOCAL_MACHINE) to standard output as a registry file: "
                                 "version 5.00 in UTF-16LE, or REGEDIT4 in code page 1252. "
                                 "The file shows the registry at one moment; the device's "
                                 "writes go on meanwhile "));
}

TEST_F(CedeviceToolTest, PimItemsAreAddedChangedListedAndDeleted) {
  init();
  ToolRun missing = pim({"change", "999"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "cedevice: no item has the id 999\n");
  ToolRun notUtf8 = pim({"add", "contact", "caf\xe9"});
  EXPECT_EQ(notUtf8.exitCode, 1);
  EXPECT_NE(notUtf8.err.find("UTF-8"), std::string::npos) << notUtf8.err;
  EXPECT_EQ(pim({"list"}).out, "");  // nothing was stored

  ToolRun added = pim({"add", "contact", "Ann O'Example"});
  ASSERT_EQ(added.exitCode, 0) << added.err;
  unsigned contact = static_cast<unsigned>(std::stoul(added.out));
  EXPECT_EQ(added.out, std::to_string(contact) + "\n");
  ASSERT_EQ(pim({"add", "task", "line\none"}).exitCode, 0);

  ToolRun listed = pim({"list", "contacts"});
  ASSERT_EQ(listed.exitCode, 0);
  ASSERT_EQ(listed.out.rfind(std::to_string(contact) + "\tcontacts\t", 0), 0u) << listed.out;
  EXPECT_NE(listed.out.find("\tAnn O'Example\n"), std::string::npos) << listed.out;
  listed = pim({"list"});
  EXPECT_NE(listed.out.find("\ttasks\t"), std::string::npos);
  EXPECT_NE(listed.out.find("line\\x0aone\n"), std::string::npos) << listed.out;

  EXPECT_EQ(pim({"change", std::to_string(contact), "Bob"}).exitCode, 0);
  EXPECT_EQ(pim({"change", std::to_string(contact)}).exitCode, 0);
  EXPECT_NE(pim({"list", "contacts"}).out.find("\tBob\n"), std::string::npos);
  EXPECT_EQ(pim({"delete", std::to_string(contact)}).exitCode, 0);
  EXPECT_EQ(pim({"list", "contacts"}).out, "");
}

// The install tree: what `cmake --install` puts in a prefix, and a device run with the installed
// tools only, from a folder that is neither the build tree nor the prefix.
class InstallTest : public ce::test::DeviceTest {
 protected:
  void TearDown() override {
    if (!tool_.empty()) run({"--home", device(), "shutdown"});
    ce::test::DeviceTest::TearDown();
  }

  std::string device() { return home() + "/device"; }

  // `cmake --install` of the build tree into `prefix`, staged below `destdir` when given.
  void install(const std::string& prefix, const std::string& destdir = "") {
    std::string command = shellQuoted(CE_CMAKE_COMMAND) + " --install " +
                          shellQuoted(ce::test::buildDir()) + " --prefix " + shellQuoted(prefix) +
                          " >/dev/null";
    if (!destdir.empty()) command = "DESTDIR=" + shellQuoted(destdir) + " " + command;
    ToolRun installed = ce::test::runShell(command, home() + "/.install.err");
    ASSERT_EQ(installed.exitCode, 0) << installed.err;
  }

  // An installed program, started from `cwd`.
  ToolRun run(const std::vector<std::string>& args, const std::string& program = "bin/cedevice") {
    std::string command = "cd " + shellQuoted(cwd_) + " && " + shellQuoted(prefix_ + "/" + program);
    for (const auto& arg : args) command.append(" ").append(shellQuoted(arg));
    return ce::test::runShell(command, home() + "/.run.err");
  }

  std::string prefix_;
  std::string cwd_;
  std::string tool_;
};

TEST_F(InstallTest, InstalledToolsRunADeviceFromAnyFolderWithoutTheBuildTree) {
  std::string prefix = home() + "/prefix";
  install(prefix);
  for (const char* file : {"bin/cedevice", "libexec/cedevice/notlstnr",
                           "libexec/cedevice/startsync", "share/man/man1/cedevice.1",
                           "share/man/man8/notlstnr.8", "share/man/man8/startsync.8",
                           "share/bash-completion/completions/cedevice",
                           "share/zsh/site-functions/_cedevice",
                           "share/systemd/user/cedevice@.service",
                           "share/doc/cedevice/README.md", "share/doc/cedevice/docs/device.md",
                           "share/doc/cedevice/docs/cedevice.md", "share/doc/cedevice/copyright"})
    EXPECT_TRUE(fs::is_regular_file(prefix + "/" + file)) << file;
  // Nobody runs the helpers: bin/ holds cedevice alone.
  EXPECT_EQ(std::distance(fs::directory_iterator(prefix + "/bin"), fs::directory_iterator()), 1);
  // Outside /usr systemd reads share/systemd/user (~/.local/share/systemd/user), never lib/.
  EXPECT_FALSE(fs::exists(prefix + "/lib/systemd"));
  std::string unit = ce::test::readFile(prefix + "/share/systemd/user/cedevice@.service");
  EXPECT_THAT(unit, HasSubstr("\nExecStart=" + prefix + "/bin/cedevice --home %f boot\n"));
  EXPECT_THAT(unit, HasSubstr("\nRestart=on-failure\n"));
  EXPECT_THAT(unit, HasSubstr("\nStartLimitBurst="));
  EXPECT_THAT(unit, Not(::testing::ContainsRegex("@[A-Z]+@")));

  // The manual names the paths of this installation, and reads without a roff warning.
  std::string manual = ce::test::readFile(prefix + "/share/man/man1/cedevice.1");
  EXPECT_THAT(manual, HasSubstr(".SS \"cedevice status\""));
  for (const char* section : {".SH \"EXIT STATUS\"", ".SH ENVIRONMENT", ".SH FILES",
                              ".SH EXAMPLES", ".SH \"SEE ALSO\"", ".B CE_DEVICE_HOME",
                              ".B CE_REGISTRY_BUSY_TIMEOUT_MS", "cedevice help [OPTIONS] [COMMAND"})
    EXPECT_THAT(manual, HasSubstr(section));
  EXPECT_THAT(manual, HasSubstr(".B " + prefix + "/libexec/cedevice/notlstnr\n"));
  EXPECT_THAT(manual, HasSubstr(prefix + "/share/doc/cedevice/"));
  EXPECT_THAT(manual, ::testing::ContainsRegex("^\\.TH CEDEVICE 1 \"[0-9]{4}-[0-9]{2}-[0-9]{2}\""));
  for (const char* page : {"man1/cedevice.1", "man8/notlstnr.8", "man8/startsync.8"}) {
    std::string path = prefix + "/share/man/" + page;
    EXPECT_THAT(ce::test::readFile(path), Not(::testing::ContainsRegex("@[A-Z]+@"))) << page;
    ToolRun lint = ce::test::runShell("groff -man -ww -z " + shellQuoted(path) + " 2>&1 >/dev/null",
                                      home() + "/.groff.err");
    EXPECT_EQ(lint.out, "") << page;
  }

  // Moved after installing: cedevice finds its helpers from its own folder, not where they
  // were built or installed.
  prefix_ = home() + "/moved";
  fs::rename(prefix, prefix_);
  cwd_ = home() + "/elsewhere";
  fs::create_directories(cwd_);
  tool_ = "cedevice";

  for (std::string program : {"bin/cedevice", "libexec/cedevice/startsync",
                              "libexec/cedevice/notlstnr"})
    EXPECT_EQ(run({"--version"}, program).out,
              fs::path(program).filename().string() + " " + CE_VERSION + "\n");
  // The listener takes no options: one given by mistake starts nothing and creates nothing.
  EXPECT_EQ(run({"--home", device()}, "libexec/cedevice/notlstnr").exitCode, 2);
  EXPECT_TRUE(fs::is_empty(cwd_));

  ASSERT_EQ(run({"--home", device(), "init"}).exitCode, 0);
  EXPECT_EQ(ce::test::readFile(device() + "/fs/Program Files/Quillbex/startsync.exe"),
            ce::test::readFile(prefix_ + "/libexec/cedevice/startsync"));
  ToolRun boot = run({"--home", device(), "boot", "--detach"});
  ASSERT_EQ(boot.exitCode, 0) << boot.out << boot.err;
  ASSERT_EQ(run({"--home", device(), "pim", "add", "contact", "Ann"}).out, "1\n");
  EXPECT_TRUE(ce::test::waitForText(device() + "/fs/notlstnr.txt", "CP: Item is 1"));
  ToolRun status = run({"--home", device(), "status"});
  EXPECT_EQ(status.exitCode, 0);
  // The listener that runs is the installed one, not the build tree's.
  size_t pidAt = status.out.find("(pid ");
  ASSERT_NE(pidAt, std::string::npos) << status.out;
  std::string pid = status.out.substr(pidAt + 5, status.out.find(')', pidAt) - pidAt - 5);
  EXPECT_EQ(fs::read_symlink("/proc/" + pid + "/exe"),
            fs::path(prefix_ + "/libexec/cedevice/notlstnr"));
  ToolRun down = run({"--home", device(), "shutdown"});
  EXPECT_EQ(down.exitCode, 0) << down.err;
  EXPECT_THAT(down.out, HasSubstr("listener exited with code 0"));
  tool_.clear();
  // Nothing was made in the current folder.
  EXPECT_TRUE(fs::is_empty(cwd_));
}

// Under /usr, as the Debian package stages it: the places Debian's tools read.
TEST_F(InstallTest, UnderUsrTheFilesGoWhereDebianLooks) {
  std::string stage = home() + "/stage";
  install("/usr", stage);
  for (const char* file : {"usr/lib/systemd/user/cedevice@.service",
                           "usr/share/zsh/vendor-completions/_cedevice",
                           "usr/libexec/cedevice/notlstnr"})
    EXPECT_TRUE(fs::is_regular_file(stage + "/" + file)) << file;
  EXPECT_FALSE(fs::exists(stage + "/usr/share/systemd"));
  EXPECT_THAT(ce::test::readFile(stage + "/usr/lib/systemd/user/cedevice@.service"),
              HasSubstr("\nExecStart=/usr/bin/cedevice --home %f boot\n"));
  std::string manual = ce::test::readFile(stage + "/usr/share/man/man1/cedevice.1");
  EXPECT_THAT(manual, HasSubstr(".B /usr/libexec/cedevice/startsync\n"));
  EXPECT_THAT(manual, HasSubstr("/usr/share/doc/cedevice/"));
  EXPECT_THAT(manual, Not(HasSubstr(stage)));
}

// `make package` on a machine that never built one: the package's build dependencies (from
// debian/control, as dpkg-checkbuilddeps reads them) and what the script itself runs are
// installed first, as `make test` installs its own; where all are there, apt is not asked.
// Catches a package build that stops at "Unmet build dependencies" on a fresh machine. apt
// and dpkg are stand-ins here that record what they were asked.
using PackageSetupTest = ce::test::DeviceTest;

TEST_F(PackageSetupTest, APackageBuildFirstInstallsWhatItNeeds) {
  using ::testing::ContainsRegex;
  const std::string stubs = home() + "/stubs", calls = home() + "/apt-calls";
  std::filesystem::create_directories(stubs);
  auto stub = [&](const std::string& name, const std::string& body) {
    ce::test::writeFile(stubs + "/" + name, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(stubs + "/" + name, std::filesystem::perms::owner_all);
  };
  stub("apt-get", "echo \"$*\" >>" + shellQuoted(calls));
  stub("sudo", "exec \"$@\"");
  auto setup = [&](bool fresh) {
    std::filesystem::remove(calls);
    stub("dpkg-query",
         fresh ? "exit 1" : "shift 2; for p; do echo \"$p install ok installed\"; done");
    stub("dpkg-checkbuilddeps", fresh ? "exit 1" : "exit 0");
    ToolRun run = ce::test::runShell("cd / && PATH=" + shellQuoted(stubs) + ":\"$PATH\" " +
                               shellQuoted(CE_SOURCE_DIR "/scripts/setup") + " --package",
                           home() + "/setup.err");
    EXPECT_EQ(run.exitCode, 0) << run.out << run.err;
    return ce::test::readFile(calls);
  };
  std::string fresh = setup(true);
  EXPECT_THAT(fresh, HasSubstr("build-dep -y -q " CE_SOURCE_DIR "\n"));
  EXPECT_THAT(fresh, ContainsRegex("install .*lintian"));
  EXPECT_EQ(setup(false), "");
}

}  // namespace
