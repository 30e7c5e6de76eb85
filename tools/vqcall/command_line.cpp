#include "tools/vqcall/command_line.h"

#include <boost/program_options.hpp>
#include <cctype>
#include <cmath>
#include <map>
#include <sstream>

namespace vqcall {
namespace po = boost::program_options;

namespace {

const std::map<std::string, Command>& Commands() {
  static const std::map<std::string, Command> commands = {
      {"open", Command::kOpen}, {"query", Command::kQuery}, {"querydbg", Command::kQueryDbg},
      {"extr", Command::kExtr}, {"elem", Command::kElem},   {"raw", Command::kRaw}};
  return commands;
}

// A word like "-1" is a negative number, not a cluster of short options.
std::vector<po::option> NegativeNumberAsWord(std::vector<std::string>& args) {
  std::vector<po::option> result;
  const std::string& word = args.front();
  if (word.size() >= 2 && word[0] == '-' && std::isdigit(static_cast<unsigned char>(word[1]))) {
    po::option opt;
    opt.string_key = "words";
    opt.value.push_back(word);
    opt.original_tokens.push_back(word);
    result.push_back(std::move(opt));
    args.erase(args.begin());
  }
  return result;
}

po::options_description Options() {
  po::options_description desc("options");
  desc.add_options()
      ("url", po::value<std::string>(), "service URL (default: $VQ_URL, else http://127.0.0.1:7400/ZIDozeve)")
      ("token", po::value<std::string>(), "bearer token (default: $VQ_TOKEN)")
      ("json", "print the reply body as the server sent it")
      ("timeout", po::value<std::string>(), "seconds to wait for the whole answer; 0 = no limit (default 60)")
      ("null", po::value<std::string>(), "text for a database null in a table (default NULL, dimmed on a terminal)")
      ("help,h", "show this help");
  return desc;
}

double ParseTimeout(const std::string& text) {
  size_t used = 0;
  double value = 0;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception&) {
    used = 0;
  }
  if (used == 0 || used != text.size() || !std::isfinite(value) || value < 0 || value > 86400) {
    throw UsageError("--timeout must be a number of seconds from 0 to 86400 (got '" + text + "')");
  }
  return value;
}

}  // namespace

Invocation ParseCommandLine(int argc, const char* const argv[], const EnvDefaults& env) {
  po::options_description visible = Options();
  po::options_description all;
  all.add(visible).add_options()("words", po::value<std::vector<std::string>>()->composing());
  po::positional_options_description positional;
  positional.add("words", -1);

  po::variables_map vm;
  try {
    po::store(po::command_line_parser(argc, argv)
                  .options(all)
                  .positional(positional)
                  .extra_style_parser(NegativeNumberAsWord)
                  .run(),
              vm);
    po::notify(vm);
  } catch (const po::error& e) {
    throw UsageError(e.what());
  }

  Invocation inv;
  if (env.url && *env.url) inv.url = env.url;
  if (env.token) inv.token = env.token;
  if (vm.count("url")) inv.url = vm["url"].as<std::string>();
  if (vm.count("token")) inv.token = vm["token"].as<std::string>();
  inv.json = vm.count("json") > 0;
  if (vm.count("timeout")) inv.timeout_seconds = ParseTimeout(vm["timeout"].as<std::string>());
  if (vm.count("null")) inv.null_text = vm["null"].as<std::string>();
  inv.help = vm.count("help") > 0;
  for (const char c : inv.token) {
    // A line break in a header would let the token add headers of its own.
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) {
      throw UsageError("the token must not contain control characters");
    }
  }

  std::vector<std::string> words;
  if (vm.count("words")) words = vm["words"].as<std::vector<std::string>>();
  if (inv.help) return inv;
  if (words.empty()) throw UsageError("no command given");
  const auto found = Commands().find(words.front());
  if (found == Commands().end()) throw UsageError("unknown command '" + words.front() + "'");
  inv.command = found->second;
  inv.command_name = words.front();
  inv.args.assign(words.begin() + 1, words.end());
  return inv;
}

std::string UsageLine() {
  return "usage: vqcall [--url URL] [--token TOKEN] [--json] [--timeout SECONDS] [--null TEXT] "
         "open|query|querydbg|extr|elem|raw ARGS... (vqcall --help for more)";
}

std::string HelpText() {
  std::string text =
      "vqcall: send one request to a vqsrv service and print its answer.\n"
      "\n"
      "commands:\n"
      "  open DSN                   try to connect; prints ok or failed\n"
      "  query DSN SQL [RECORD]     fields of record RECORD (1 = first, default -1 = all)\n"
      "                             joined by '|'\n"
      "  querydbg DSN SQL           all rows as a table (JSON with --json)\n"
      "  extr TEXT START [COUNT]    COUNT characters of TEXT from START (0-based)\n"
      "  elem TEXT SEP INDEX        element INDEX (0-based) of TEXT split at the byte SEP\n"
      "  raw JSON                   send any request body; print the answer as it is\n"
      "\n";
  std::ostringstream opts;
  opts << Options();
  text += opts.str();
  text +=
      "\n"
      "exit status: 0 success, 1 error reply (or open failed), 2 HTTP error,\n"
      "3 server unreachable or no answer in time, 64 bad command line.\n"
      "\n"
      "examples:\n"
      "  vqcall open demo\n"
      "  vqcall query demo 'SELECT id, name, price FROM items' 2\n"
      "  vqcall querydbg demo 'SELECT id, note FROM items WHERE id > 1'\n"
      "  vqcall extr abcdef 2 3\n"
      "  vqcall elem a,b,c , 1\n"
      "  vqcall raw '{\"M\":\"open\",\"P1\":\"demo\"}'\n"
      "  VQ_URL=http://10.0.0.5:7400/ZIDozeve vqcall --token secret open demo\n";
  return text;
}

}  // namespace vqcall
