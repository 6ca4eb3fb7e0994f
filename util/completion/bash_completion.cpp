// Writes zirko_util's bash completion script from the command registry and
// the key table, so that the script offers exactly the commands, options and
// key names the program takes, and the list of command names (one a line)
// that the build makes the multi-call links from.
// Run at build time: bash_completion <completion script> <command list>.
#include <stdio.h>

#include <string>

#include "cmd.h"
#include "commands.h"

namespace {

std::string command_names() {
  std::string names;
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next)
    names += (names.empty() ? "" : " ") + std::string(n->desc->name);
  return names;
}

// The key table's words and the other spellings `record' takes; single
// characters are typed faster than completed.
std::string key_names() {
  std::string names;
  for (int i = 0; const char *word = zk_key_word(i); ++i)
    names += (names.empty() ? "" : " ") + std::string(word);
  for (const key_alias &alias : kKeyAliases) names += " " + std::string(alias.listed);
  return names;
}

// The program's options: in front of the first command, and after any.
constexpr const char *kFrontOptions = "-h --help --version";
constexpr const char *kGlobalOptions = "-v --verbose --json --no-history -d --device";
constexpr const char *kGlobalValues = "-d --device";

// Every command's options, and those of them that take a value.
void option_words(const cmd_desc *cmd, std::string &options, std::string &values) {
  options = "-h --help";
  for (const cmd_option *opt = cmd->options; opt && opt->key; ++opt) {
    std::string names;
    if (opt->short_name) names += std::string(" -") + opt->short_name;
    if (opt->long_name) names += std::string(" --") + opt->long_name;
    options += names;
    if (opt->value_name) values += names;
  }
}

// One branch of the script's case on the command: what it offers. Another
// command may follow only where the line check lets one: after a chaining
// command has all the words it takes (a word before that is its argument).
void write_command(FILE *out, const cmd_desc *cmd) {
  std::string options, values;
  option_words(cmd, options, values);
  const cmd_args &args = cmd->args;
  const bool chains = args.chain == CMD_CHAINS && args.max >= 0;
  fprintf(out, "    %s) options=\"%s %s\" values=\"%s %s\" first=\"%s\" max=%d chains=%d ;;\n",
          cmd->name, options.c_str(), kGlobalOptions, values.c_str(), kGlobalValues,
          args.complete ? args.complete : "", args.max, chains ? 1 : 0);
}

constexpr const char *kFunctions = R"(
_zirko_util_offer() {  # the words of $1 that start with $2, one each
  mapfile -t COMPREPLY < <(compgen -W "$1" -- "$2")
}

_zirko_util() {
  # The words as typed: bash splits --name=value at the '=', so the pieces
  # are joined again. The last word is the one being completed.
  local -a words=()
  local i glue=0
  for ((i = 1; i <= COMP_CWORD; i++)); do
    if ((glue)); then
      words[-1]+=${COMP_WORDS[i]}
      glue=0
    elif [[ ${COMP_WORDS[i]} == "=" && ${#words[@]} -gt 0 && ${words[-1]} == --* ]]; then
      words[-1]+="="
      glue=1
    else
      words+=("${COMP_WORDS[i]}")
    fi
  done
  local cur=${words[-1]} prev=""
  ((${#words[@]} > 1)) && prev=${words[-2]}
  COMPREPLY=()
  [[ $cur == --*=* ]] && return  # an option's value: nothing to offer
  # Walk the chain as the program reads it: each command takes its options
  # and its words; a command stands where the one before has all its words.
  local options values first max chains cmd="" n=0 dashes=0 w
  _zirko_util_describe ""
  for ((i = 0; i < ${#words[@]} - 1; i++)); do
    w=${words[i]}
    if ((!dashes)) && [[ $w == "--" ]]; then
      dashes=1
    elif ((!dashes)) && [[ $w == -?* ]]; then
      [[ $w != *=* && " $values " == *" $w "* ]] && ((i++))  # and its value
    elif [[ -z $cmd ]] || ((chains && n >= max)); then
      [[ " $_zirko_util_commands " == *" $w "* ]] || return  # the program refuses the line
      cmd=$w n=0 dashes=0
      _zirko_util_describe "$cmd"
    else
      ((n++))
    fi
  done
  if ((!dashes)) && [[ -n $prev && " $values " == *" $prev "* ]]; then
    return  # the option's value
  fi
  if ((!dashes)) && [[ $cur == -* ]]; then
    _zirko_util_offer "$options" "$cur"
    return
  fi
  if [[ -n $cmd ]] && ((n == 0 && max != 0)); then
    case $first in
      "<commands>") _zirko_util_offer "$_zirko_util_commands" "$cur" ;;
      "<keys>") _zirko_util_offer "$_zirko_util_keys" "$cur" ;;
      "<zcfg>")
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -X '!*.zcfg' -- "$cur"; compgen -d -- "$cur")
        ;;
      "<files>")
        compopt -o filenames 2>/dev/null
        mapfile -t COMPREPLY < <(compgen -f -- "$cur")
        ;;
      "") ;;
      *) _zirko_util_offer "$first" "$cur" ;;
    esac
  fi
  if [[ -z $cmd ]] || ((chains && n >= max)); then
    local -a more
    mapfile -t more < <(compgen -W "$_zirko_util_commands" -- "$cur")
    COMPREPLY+=("${more[@]}")
  fi
}
complete -F _zirko_util zirko_util
)";

int write_command_list(const char *path) {
  FILE *out = fopen(path, "w");
  if (!out) {
    perror(path);
    return 1;
  }
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) fprintf(out, "%s\n", n->desc->name);
  return fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    fprintf(stderr, "usage: %s <completion script> <command list>\n", argv[0]);
    return 2;
  }
  if (write_command_list(argv[2]) != 0) return 1;
  FILE *out = fopen(argv[1], "w");
  if (!out) {
    perror(argv[1]);
    return 1;
  }
  fprintf(out, "# bash completion for zirko_util; generated at build time, do not edit\n");
  fprintf(out, "_zirko_util_commands=\"%s\"\n", command_names().c_str());
  fprintf(out, "_zirko_util_keys=\"%s\"\n", key_names().c_str());
  // What each command offers; "" is the front of the line.
  fprintf(out, "_zirko_util_describe() {\n");
  fprintf(out, "  options=\"%s %s\" values=\"%s\" first=\"\" max=0 chains=0\n", kFrontOptions,
          kGlobalOptions, kGlobalValues);
  fprintf(out, "  case $1 in\n");
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) write_command(out, n->desc);
  fprintf(out, "  esac\n}\n");
  fputs(kFunctions, out);
  return fclose(out) == 0 ? 0 : 1;
}
