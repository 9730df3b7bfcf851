// wendrel-doctor resolve NAME [TREE] [--answer yes|no] [--json]: the user
// search alone, as the login driver runs it for a typed name and tree, with
// the found users, the tree and server of the result or the failure text,
// every message box the search showed (answered by the doctor, not by a
// person: the continue question as --answer says, No by default), and the
// servers the search passed over with the reason for each, which a login
// never shows.

#include <cstdint>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "commands.h"
#include "config/ldap_server.h"
#include "directory/reachability.h"
#include "json_writer.h"
#include "platform/codepage.h"
#include "platform/ui.h"
#include "results/user_data.h"
#include "search/ldap_search_user.h"
#include "server_check.h"
#include "text.h"
#include "utf8_arguments.h"

namespace wendrel {
namespace doctor {
namespace {

struct Box {
  uint32_t style;
  std::string text;  // ANSI
};

// Answers every box without a person and remembers it; installed for the
// search only.
class ScriptedPresenter : public platform::MessageBoxPresenter {
 public:
  explicit ScriptedPresenter(int question_answer)
      : question_answer_(question_answer), previous_(platform::SetMessageBoxPresenter(this)) {}
  ~ScriptedPresenter() override { platform::SetMessageBoxPresenter(previous_); }
  ScriptedPresenter(const ScriptedPresenter&) = delete;
  ScriptedPresenter& operator=(const ScriptedPresenter&) = delete;

  int Show(const std::string&, const std::string& text, uint32_t style) override {
    boxes_.push_back({style, text});
    return (style & 0xF) == platform::kMbYesNo ? question_answer_ : platform::kIdOk;
  }
  const std::vector<Box>& boxes() const { return boxes_; }

 private:
  int question_answer_;
  platform::MessageBoxPresenter* previous_;
  std::vector<Box> boxes_;
};

// The ping service for the search's tree discovery, as the extension has it
// while a login runs.
class PingService {
 public:
  PingService() { InitPing(); }
  ~PingService() { ClosePing(); }
  PingService(const PingService&) = delete;
  PingService& operator=(const PingService&) = delete;
};

struct SkippedServer {
  int index;
  std::string name;  // ANSI
  LDAPSearchUser::SkipObserver::Why why;
  std::string reason;
};

class SkipRecorder : public LDAPSearchUser::SkipObserver {
 public:
  void ServerSkipped(int index, const std::string& server, Why why) override {
    skipped_.push_back({index, server, why, std::string()});
  }
  std::vector<SkippedServer>& skipped() { return skipped_; }

 private:
  std::vector<SkippedServer> skipped_;
};

// The search knows only that a server could not be bound to, gave no tree
// name or is of another tree; for the first, a check of the server says why.
void ExplainSkips(std::vector<SkippedServer>* skipped) {
  std::vector<ServerSettings> servers;
  try {
    servers = ReadServerSettings();
  } catch (const LDAPServer::BadReg&) {
    // Gone since the search read it: nothing more to learn.
  }
  for (SkippedServer& s : *skipped) {
    if (s.why == LDAPSearchUser::SkipObserver::Why::kOtherTree) {
      s.reason = "other tree";
    } else if (s.why == LDAPSearchUser::SkipObserver::Why::kNoTreeName) {
      s.reason = "no tree name";
    } else if (s.index >= 0 && static_cast<size_t>(s.index) < servers.size()) {
      s.reason = SkipReason(CheckServer(servers[static_cast<size_t>(s.index)]));
    } else {
      s.reason = "bind refused";
    }
  }
}

struct ResolveArguments {
  std::string name;  // UTF-8
  std::string tree;  // UTF-8
  int answer = platform::kIdNo;
  bool json = false;
};

struct ResolveOutcome {
  bool found = false;
  bool cancelled = false;
  std::string error;  // ANSI
};

void PrintResolveUsage() {
  std::cerr << "usage: wendrel-doctor resolve NAME [TREE] [--answer yes|no] [--json]\n";
}

// False (after saying why) for arguments that do not make a request.
bool ParseArguments(const std::vector<std::string>& args, ResolveArguments* out) {
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      out->json = true;
    } else if (arg == "--answer") {
      if (i + 1 == args.size()) {
        std::cerr << "wendrel-doctor resolve: --answer needs yes or no\n";
        return false;
      }
      const std::string& value = args[++i];
      if (value == "yes") {
        out->answer = platform::kIdYes;
      } else if (value == "no") {
        out->answer = platform::kIdNo;
      } else {
        std::cerr << "wendrel-doctor resolve: --answer takes yes or no, not \"" << value
                  << "\"\n";
        return false;
      }
    } else if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
      std::cerr << "wendrel-doctor resolve: unknown option \"" << arg << "\"\n";
      return false;
    } else {
      positional.push_back(arg);
    }
  }
  if (positional.empty() || positional.size() > 2) {
    std::cerr << "wendrel-doctor resolve: give a NAME and at most one TREE\n";
    return false;
  }
  out->name = positional[0];
  if (positional.size() == 2) out->tree = positional[1];
  return true;
}

ResolveOutcome RunSearch(UserData& request, LDAPSearchUser::SkipObserver* observer) {
  ResolveOutcome outcome;
  try {
    LDAPSearchUser search;
    search.SetSkipObserver(observer);
    search.SearchForAUser(request);
    outcome.found = true;
  } catch (const std::string& text) {
    outcome.error = text;
  } catch (const LDAPSearchUser::SearchCancelled&) {
    outcome.cancelled = true;
  }
  return outcome;
}

void WriteJson(UserData& request, const ResolveOutcome& outcome, const std::vector<Box>& boxes,
               const std::vector<SkippedServer>& skipped, std::ostream& out) {
  JsonWriter json(&out);
  json.BeginObject();
  json.Key("name");
  json.String(request.GetLoginName());  // the typed name is UTF-8 already
  json.Key("tree");
  json.String(AnsiToUtf8(request.GetTreeName()));
  json.Key("server");
  json.String(AnsiToUtf8(request.GetServerName()));
  json.Key("found");
  json.Bool(outcome.found);
  json.Key("users");
  json.BeginArray();
  for (UserObj* user = request.GetFirstUser(); user != nullptr; user = request.GetNextUser()) {
    json.BeginObject();
    json.Key("user");
    json.String(AnsiToUtf8(user->GetUser()));
    json.Key("context");
    json.String(AnsiToUtf8(user->GetUserContext()));
    json.Key("userFDN");
    json.String(AnsiToUtf8(user->GetUserFDN()));
    json.Key("contextFDN");
    json.String(AnsiToUtf8(user->GetUserContextFDN()));
    json.Key("attributes");
    json.BeginObject();
    for (const auto& attribute : user->GetAttributes()) {
      json.Key(AnsiToUtf8(attribute.first));
      json.String(AnsiToUtf8(attribute.second));
    }
    json.EndObject();
    json.EndObject();
  }
  json.EndArray();
  json.Key("error");
  if (outcome.found || outcome.cancelled) {
    json.Null();
  } else {
    json.String(AnsiToUtf8(outcome.error));
  }
  json.Key("cancelled");
  json.Bool(outcome.cancelled);
  json.Key("messageBoxes");
  json.BeginArray();
  for (const Box& box : boxes) {
    json.BeginObject();
    json.Key("style");
    json.Int(box.style);
    json.Key("text");
    json.String(AnsiToUtf8(box.text));
    json.EndObject();
  }
  json.EndArray();
  json.Key("skipped");
  json.BeginArray();
  for (const SkippedServer& server : skipped) {
    json.BeginObject();
    json.Key("name");
    json.String(AnsiToUtf8(server.name));
    json.Key("reason");
    json.String(server.reason);
    json.EndObject();
  }
  json.EndArray();
  json.EndObject();
  out << '\n';
}

void WriteText(UserData& request, const ResolveOutcome& outcome, const std::vector<Box>& boxes,
               const std::vector<SkippedServer>& skipped, std::ostream& out) {
  out << "Name:   " << request.GetLoginName() << '\n'
      << "Tree:   " << AnsiToUtf8(request.GetTreeName()) << '\n'
      << "Server: " << AnsiToUtf8(request.GetServerName()) << '\n';
  if (outcome.cancelled) {
    out << "Result: cancelled\n";
  } else if (!outcome.found) {
    out << "Result: error\n  " << AnsiToUtf8(outcome.error) << '\n';
  } else {
    out << "Result: " << request.GetUserCount() << " user(s)\n";
  }
  int number = 0;
  for (UserObj* user = request.GetFirstUser(); user != nullptr; user = request.GetNextUser()) {
    out << "  " << ++number << ". " << AnsiToUtf8(user->GetUser()) << "  "
        << AnsiToUtf8(user->GetUserContext()) << "\n     " << AnsiToUtf8(user->GetUserFDN())
        << "  " << AnsiToUtf8(user->GetUserContextFDN()) << '\n';
    for (const auto& attribute : user->GetAttributes()) {
      out << "     " << AnsiToUtf8(attribute.first) << ": " << AnsiToUtf8(attribute.second)
          << '\n';
    }
  }
  if (!boxes.empty()) out << "Message boxes:\n";
  for (const Box& box : boxes) {
    char style[16];
    std::snprintf(style, sizeof(style), "0x%02X", static_cast<unsigned>(box.style));
    out << "  [" << style << "] " << AnsiToUtf8(box.text) << '\n';
  }
  if (!skipped.empty()) out << "Skipped servers:\n";
  for (const SkippedServer& server : skipped) {
    out << "  " << AnsiToUtf8(server.name) << ": " << server.reason << '\n';
  }
}

}  // namespace

int RunResolveCommand(const std::vector<std::string>& args) {
  ResolveArguments parsed;
  // main's arguments start after the program and the command's name.
  if (!ParseArguments(Utf8Arguments(args, 2), &parsed)) {
    PrintResolveUsage();
    return kExitBadArguments;
  }
  // The driver hands the search the name in UTF-8 and the tree in the ANSI
  // code page, as the login prompt's tree field holds it.
  UserData request(parsed.name,
                   platform::Utf16ToAnsi(platform::Utf8ToUtf16(parsed.tree)));
  ResolveOutcome outcome;
  std::vector<Box> boxes;
  SkipRecorder skips;
  {
    PingService ping;
    ScriptedPresenter presenter(parsed.answer);
    outcome = RunSearch(request, &skips);
    boxes = presenter.boxes();
  }
  ExplainSkips(&skips.skipped());
  if (parsed.json) {
    WriteJson(request, outcome, boxes, skips.skipped(), std::cout);
  } else {
    WriteText(request, outcome, boxes, skips.skipped(), std::cout);
  }
  return kExitOk;
}

}  // namespace doctor
}  // namespace wendrel
