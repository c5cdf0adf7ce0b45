#include "front/command_line.h"

namespace front {

bool CommandLine::settingsOnly() const {
  return (list || !changes.empty()) && !start && rest.empty();
}

bool parseCommandLine(const std::vector<std::string>& args, CommandLine& out, std::string& error) {
  out = CommandLine{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "-h" || a == "--help") {
      out.help = true;
    } else if (a == "-q" || a == "--quiet") {
      out.quiet = true;
    } else if (a == "--settings") {
      out.list = true;
    } else if (a == "--start") {
      out.start = true;
    } else if (a == "--window") {
      out.window = true;
    } else if (a == "--headless") {
      out.headless = true;
    } else if (a.rfind("--", 0) == 0 && a.size() > 2) {
      const size_t eq = a.find('=');
      const std::string name = a.substr(0, eq);
      SettingChange change;
      if (name == "--set") {
        change.kind = SettingChange::Kind::kSet;
      } else if (name == "--enable") {
        change.kind = SettingChange::Kind::kEnable;
      } else if (name == "--disable") {
        change.kind = SettingChange::Kind::kDisable;
      } else if (name == "--target") {
        change.kind = SettingChange::Kind::kTarget;
      } else {
        error = "unknown option " + name + " (vistrel --help lists the options)";
        return false;
      }
      if (eq != std::string::npos) {
        change.text = a.substr(eq + 1);
      } else if (i + 1 < args.size()) {
        change.text = args[++i];
      } else {
        error = "option " + name + " needs a value";
        return false;
      }
      if (change.text.empty()) {
        error = "option " + name + " needs a value";
        return false;
      }
      out.changes.push_back(std::move(change));
    } else {
      out.rest.push_back(a);
    }
  }
  if (out.window && out.headless) {
    error = "--window and --headless exclude each other";
    return false;
  }
  return true;
}

std::string joinArguments(const std::vector<std::string>& args) {
  std::string out;
  for (const std::string& a : args) {
    if (!out.empty()) out += ' ';
    if (!a.empty() && a.find_first_of(" \t\"\\") == std::string::npos) {
      out += a;
      continue;
    }
    out += '"';
    for (char c : a) {
      if (c == '"' || c == '\\') out += '\\';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<std::string> splitArguments(std::string_view text) {
  std::vector<std::string> out;
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
    if (i >= text.size()) break;
    std::string arg;
    bool quoted = false;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (!quoted && (c == ' ' || c == '\t')) break;
      if (c == '"') {
        quoted = !quoted;
      } else if (quoted && c == '\\' && i + 1 < text.size() &&
                 (text[i + 1] == '"' || text[i + 1] == '\\')) {
        arg += text[++i];
      } else {
        arg += c;
      }
    }
    out.push_back(std::move(arg));
  }
  return out;
}

}  // namespace front
