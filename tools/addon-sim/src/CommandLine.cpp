#include "CommandLine.h"

#include <algorithm>
#include <charconv>

namespace folvane::sim {

namespace {

std::optional<int> parsePort(const std::string& text) {
    int port = -1;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), port);
    if (ec != std::errc() || end != text.data() + text.size() || port < 0 || port > 65535) {
        return std::nullopt;
    }
    return port;
}

// Stores the value of one flag; returns why it is unusable instead.
std::optional<std::string> apply(Options& options, const std::string& flag, const std::string& value) {
    if (flag == "--cms") {
        const auto cms = cmsFromKey(value);
        if (!cms) {
            return "--cms must be \"ee\" or \"wp\", not \"" + value + "\"";
        }
        options.cms = *cms;
    } else if (flag == "--host") {
        if (value.empty()) {
            return "--host must not be empty";
        }
        options.host = value;
    } else if (flag == "--port") {
        const auto port = parsePort(value);
        if (!port) {
            return "--port must be a number from 0 to 65535, not \"" + value + "\"";
        }
        options.port = *port;
    } else if (flag == "--seed") {
        options.seedPath = value;
    } else if (flag == "--user") {
        options.user = value;
    } else {
        options.password = value;
    }
    return std::nullopt;
}

} // namespace

CommandLine parseCommandLine(const std::vector<std::string>& args) {
    static const std::vector<std::string> valued{"--cms",  "--host", "--port",
                                                 "--seed", "--user", "--password"};
    CommandLine result;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            result.options.help = true;
            continue;
        }
        if (arg == "--verbose") {
            result.options.verbose = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string flag = arg.substr(0, eq);
        if (std::find(valued.begin(), valued.end(), flag) == valued.end()) {
            result.error = "unknown argument \"" + arg + "\"";
            return result;
        }
        std::string value;
        if (eq != std::string::npos) {
            value = arg.substr(eq + 1);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            result.error = flag + " needs a value";
            return result;
        }
        if (auto problem = apply(result.options, flag, value)) {
            result.error = *problem;
            return result;
        }
    }
    return result;
}

std::string helpText() {
    return R"(Usage: folvane3-addon-sim [OPTIONS]

A local HTTP server that behaves like the Folvane add-on of an ExpressionEngine or WordPress site, with a
control interface for tests and fault injection.

Options:
  --cms ee|wp        flavour of the site (default ee; a seed's "cms" wins)
  --host ADDRESS     address to listen on (default 127.0.0.1)
  --port N           port to listen on; 0 (default) picks a free one
  --seed FILE        serve the site described by FILE (JSON, below) instead of the demo site
  --user NAME        login user name (default admin; a seed's "user" wins)
  --password PW      login password (default password; a seed's "password" wins)
  --verbose          one line per request on standard error (never a password or a request body)
  --help             this text
Flags also take the form --flag=value. Bad arguments or an unusable seed file: message, exit status 2.

When ready it prints one line on standard output:  READY <port> <base-url>
It then serves until SIGTERM or SIGINT and exits 0.

Add-on URL spaces
  ee  base http://HOST:PORT/admin.php?D=cp&C=addons_modules&M=show_module_cp&module=folvane
      The client appends "&m=<action>"; the action is the query parameter "m" on any path, so the
      session form http://HOST:PORT/S=<session id>/?D=cp&...&m=<action> works too. Group and template ids
      are integers; groups are flat; the pseudo-groups have the ids "snippets" and "variables". Login
      answers carry "session_id" (32 hex digits, new at each login).
  wp  base http://HOST:PORT/wp-json/folvane/v1
      The client appends "/<action>". Group ids are paths ("theme", "theme/template-parts"); renaming or
      moving a group changes its id and every id below it. Template ids are strings that never change.
  GET: status, logout, list_all. POST (application/x-www-form-urlencoded): every other action. A wrong
  method or an unknown action gets an HTML "Page Not Found" page (404), as a real site would send.
  Template content travels as padded standard Base64 ("template_data" in requests, "data" in answers).

Actions (fields; the answer's keys)
  status                 -; status, cms ("ExpressionEngine" or "Wordpress"), addon_version, version
  login                  username, password; logged_in, permissions, session_id (ee) or logged_in false,
                         message. Sets the cookie folvane_session=<id>.
  logout                 -; logged_in false
  list_all               -; folders: [{id, name, is_special, files: [{id, name, data}], subfolders}]
  get_template           template_group_id, template_id; success, template {id, name, data}
  update_template_data   template_group_id, template_id, template_data; success, message
  create_template        template_group_id, template_name, template_data; success, message, template {id}
  create_template_group  template_group_name, template_group_id (parent, empty at the top);
                         success, message, template_group {id, is_special}
  delete_template        template_group_id, template_id; success, message
  delete_template_group  template_group_id; success, message (refused while it holds templates or groups)
  rename_template        template_id, template_name, template_group_id; success, message, template {id}
  rename_template_group  template_group_id, template_group_name; success, message, template_group {id}
  move_template          from_group_id, to_group_id, template_id, template_name; success, message,
                         template {id}
  move_template_group    template_group_id, to_group_id (wp only); success, message, template_group {id}
  Refusals answer success false and a message: unknown ids, a template that is not in the named group, a
  missing field, invalid Base64, a name that is empty, "." or "..", or contains "/" or NUL, a name already
  taken, nesting or moving groups on ee, deleting or renaming a pseudo-group.

Seed file (also the body of POST /_sim/seed)
  {"cms": "ee"|"wp", "user": "...", "password": "...", "addon_version": "3.0.0", "version": 7,
   "groups": [{"name": "site", "is_special": true, "special": "snippets"|"variables" (ee pseudo-group),
               "templates": [{"name": "index.html", "content": "text"} or {"name": "...", "data": "<base64>"}],
               "subfolders": [ groups... (wp only) ]}]}
  Every key is optional except the names and one of content/data. Names are taken as they are, so a seed can
  hold names the add-on would refuse. Unknown keys are errors.

Control interface (JSON in and out; not in the request log)
  GET  /_sim/state              {"cms", "groups": [{id, name, parent_id, is_special, special, path}],
                                 "templates": [{id, group_id, name, path, content, data}]}, ids as strings,
                                 paths as on the mounted volume (snippets in /Partials), sorted by path
  GET  /_sim/log                every add-on request since the last reset or clear: [{seq, method, path,
                                 query, action, session_id, cookie, form, content (decoded template_data),
                                 body}]
  POST /_sim/log/clear
  POST /_sim/reset              back to the initial site (demo or --seed); config, faults, sessions, log and
                                 the raw list answer cleared
  POST /_sim/seed               replace the site (body: seed JSON); config, faults and log stay
  POST /_sim/config             merge any of: status (text), cms_text, addon_version, version (integer),
                                 login ("ok"|"refuse"), login_message, permissions, omit_permissions,
                                 omit_logged_in_on_logout, require_session (booleans). require_session (ee):
                                 every action but status and login needs the newest login's session id in the
                                 path, otherwise success false, "Session expired."
  POST /_sim/edit               {"path", "content"}: change a template as the CMS's own editor would (not
                                 through the add-on, so not in the log)
  POST /_sim/fault              add a fault (below)
  POST /_sim/faults/clear
  POST /_sim/list_all_raw       list_all answers the request body verbatim from now on
  POST /_sim/list_all_raw/clear
  Answers {"ok": true}, or {"error": "..."} with 400 (bad input), 404 (unknown path) or 405 (wrong method).

Faults: {"action": "<action>"|"*", "kind": KIND, "ms": 300, "min_ms": 0, "max_ms": 300, "seed": 1,
         "message": "...", "body": "...", "location": "...", "length": N, "times": N}
  Without "times" a fault applies to every matching request, otherwise to the next N. Delays add up and are
  waited out without blocking other requests; of the other kinds the first matching fault added wins.
  delay               wait "ms" before handling the request
  random_delay        wait a pseudo-random time in [min_ms, max_ms], repeatable through "seed"
  non_json            answer an HTML error page (500); nothing changes
  refuse              answer success false with "message" (login: logged_in false); nothing changes
  drop                close the connection without an answer; nothing changes
  lose_answer         carry the action out, then close the connection without an answer
  success_no_message  carry the action out, answer without the "message" key
  raw                 answer "body" verbatim as the response body (status 200); nothing changes
  redirect            answer 307 to "location" (default: the request's own address); nothing changes
  drip                carry the action out, then send its answer (or "body" when given) one byte every "ms",
                      announcing "length" bytes when given (blanks fill the rest)
)";
}

} // namespace folvane::sim
