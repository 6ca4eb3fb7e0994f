// Writes zirko_util's bash completion script from the command registry and
// the key table, so that the script offers exactly the commands, options and
// key names the program takes, and the list of command names (one a line)
// that the build makes the multi-call links from.
// Run at build time: bash_completion <completion script> <command list>.
#include <stdio.h>

#include <string>

#include "cmd.h"
#include "commands.h"
#include "internal.h"

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
  int count = 0;
  const zk::KeyRow *rows = zk::key_table(&count);
  std::string names;
  for (int i = 0; i < count; ++i)
    if (rows[i].word[0]) names += (names.empty() ? "" : " ") + std::string(rows[i].word);
  for (const key_alias &alias : kKeyAliases) names += " " + std::string(alias.listed);
  return names;
}

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

// One branch of the script's case on the command: what it offers.
void write_command(FILE *out, const cmd_desc *cmd) {
  std::string options, values;
  option_words(cmd, options, values);
  const cmd_args &args = cmd->args;
  // Another command may follow: 1 after its words, 2 only when given none.
  int chains = args.chain == CMD_CHAINS ? 1 : args.chain == CMD_CHAINS_BARE ? 2 : 0;
  fprintf(out, "    %s) options=\"%s\" values=\"%s\" first=\"%s\" min=%d chains=%d ;;\n", cmd->name,
          options.c_str(), values.c_str(), args.complete ? args.complete : "", args.min, chains);
}

constexpr const char *kFunctionTop = R"(
_zirko_util() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
  local cmd="" at=0 i
  for ((i = COMP_CWORD - 1; i >= 1; i--)); do
    if [[ " $_zirko_util_commands " == *" ${COMP_WORDS[i]} "* ]]; then
      cmd=${COMP_WORDS[i]} at=$i
      break
    fi
  done
  local options="-h --help --version -v --verbose --json --no-history" values="" first="<commands>" min=0 chains=0
  case $cmd in
)";

constexpr const char *kFunctionBottom = R"(  esac
  [[ -n $prev && " $values " == *" $prev "* ]] && return  # the option's value
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$options" -- "$cur"))
    return
  fi
  local n=0 j
  for ((j = at + 1; at > 0 && j < COMP_CWORD; j++)); do
    if [[ " $values " == *" ${COMP_WORDS[j]} "* ]]; then
      ((j++))
    elif [[ ${COMP_WORDS[j]} != -* ]]; then
      ((n++))
    fi
  done
  if ((n == 0)); then
    case $first in
      "<commands>") COMPREPLY=($(compgen -W "$_zirko_util_commands" -- "$cur")) ;;
      "<keys>") COMPREPLY=($(compgen -W "$_zirko_util_keys" -- "$cur")) ;;
      "<zcfg>") COMPREPLY=($(compgen -f -X '!*.zcfg' -- "$cur") $(compgen -d -- "$cur")) ;;
      "<files>") COMPREPLY=($(compgen -f -- "$cur")) ;;
      *) COMPREPLY=($(compgen -W "$first" -- "$cur")) ;;
    esac
  fi
  if ((chains == 2 && n == 0 || chains == 1 && n >= min)); then
    COMPREPLY+=($(compgen -W "$_zirko_util_commands" -- "$cur"))
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
  fputs(kFunctionTop, out);
  const cmd_node *head = cmd_list();
  for (const cmd_node *n = head->next; n != head; n = n->next) write_command(out, n->desc);
  fputs(kFunctionBottom, out);
  return fclose(out) == 0 ? 0 : 1;
}
