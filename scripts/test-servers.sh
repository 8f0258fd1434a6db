#!/usr/bin/env bash
# Starts and stops the loopback servers of the end-to-end tests, private to one build
# directory. Nothing outside BUILD_DIR/test-servers/ is touched: no system configuration,
# no system service.
#
#   scripts/test-servers.sh start BUILD_DIR   start every server, write BUILD_DIR/test-servers.env
#   scripts/test-servers.sh stop BUILD_DIR    stop the servers that "start" started
#
# BUILD_DIR/test-servers.env holds KEY=VALUE lines that the end-to-end tests read (see each
# server's section below for its keys). The tests skip themselves when the file is missing.
# Every server listens on 127.0.0.1 on a free high port and writes its process id to
# BUILD_DIR/test-servers/<server>/*.pid; "stop" ends only those processes. The servers run on
# with their output in log files beside their pid files, never on this script's standard
# output or error, so "start ... | tail" returns as soon as the script ends.
set -euo pipefail

usage() {
    echo "usage: $0 start|stop BUILD_DIR" >&2
    exit 2
}

[ $# -eq 2 ] || usage
command=$1
mkdir -p "$2"
build_dir=$(cd "$2" && pwd)
root=$build_dir/test-servers
env_file=$build_dir/test-servers.env

# A TCP port on 127.0.0.1 that nothing listens on right now.
free_port() {
    python3 -c 'import socket
s = socket.socket()
s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
}

# Waits until host:port answers with a first line starting with $3 (at most 10 s).
wait_for_greeting() {
    python3 - "$1" "$2" "$3" <<'EOF'
import socket, sys, time
host, port, prefix = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode()
deadline = time.time() + 10
while time.time() < deadline:
    try:
        with socket.create_connection((host, port), timeout=2) as s:
            if s.makefile("rb").readline().startswith(prefix):
                sys.exit(0)
    except OSError:
        pass
    time.sleep(0.1)
sys.exit(1)
EOF
}

# Makes a test CA and a server certificate for 127.0.0.1 and localhost signed by it in $1:
# ca.pem (what clients trust), server.pem and server.key. Made afresh at every start, valid
# for two days; the keys are the owner's alone.
make_test_tls() {
    local tls=$1
    mkdir -p "$tls"
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Corvane test CA" \
        -keyout "$tls/ca.key" -out "$tls/ca.pem" \
        -addext "basicConstraints=critical,CA:TRUE" \
        -addext "keyUsage=critical,keyCertSign,cRLSign" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/CN=127.0.0.1" -keyout "$tls/server.key" \
        -out "$tls/server.csr" 2>/dev/null
    printf '%s\n' "subjectAltName=IP:127.0.0.1,DNS:localhost" "basicConstraints=CA:FALSE" \
        "extendedKeyUsage=serverAuth" >"$tls/server.ext"
    openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" \
        -CAcreateserial -days 2 -extfile "$tls/server.ext" -out "$tls/server.pem" 2>/dev/null
    chmod 600 "$tls/ca.key" "$tls/server.key"
}

# Sends SIGTERM to the process in a pid file and waits (at most 10 s) until it has gone.
stop_pid_file() {
    local pid_file=$1 pid
    [ -f "$pid_file" ] || return 0
    pid=$(cat "$pid_file")
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        if kill -0 "$pid" 2>/dev/null; then
            kill -KILL "$pid" 2>/dev/null || true
        fi
    fi
    rm -f "$pid_file"
}

# ---------------------------------------------------------------------------------------
# POP3: a private Dovecot instance.
#
# Keys in test-servers.env:
#   CORVANE_POP3_HOST, CORVANE_POP3_PORT   where it listens (plain POP3, USER/PASS allowed;
#                                          STLS offered when openssl is installed)
#   CORVANE_POP3S_PORT                     POP3 with TLS from the first byte (with openssl)
#   CORVANE_POP3_CA                        the test CA's certificate (PEM) that signed the
#                                          server's certificate (127.0.0.1 and localhost), for
#                                          the tests to trust (with openssl)
#   CORVANE_POP3_USERS                     the test users, separated by commas; each test
#                                          program uses users of its own, so that programs
#                                          running at the same time never share a mailbox
#   CORVANE_POP3_PASSWORD                  the password of every test user
#   CORVANE_POP3_MAILDIR_ROOT              user U's Maildir is $CORVANE_POP3_MAILDIR_ROOT/U
#                                          (cur/ new/ tmp/); tests seed it by writing message
#                                          files into tmp/ and renaming them into new/
# ---------------------------------------------------------------------------------------
# The last users sign in with OAuth 2.0 at the second instance (see "OAuth" below).
oauth_users="e2e-oauth e2e-oauth-cli e2e-oauth-gui"
pop3_users="e2e-pop3 e2e-cli e2e-bench e2e-spare e2e-process e2e-desktop e2e-gui e2e-install e2e-tls e2e-auth $oauth_users"
pop3_user_list=${pop3_users// /,}
pop3_password="corvane-test-pw"

pop3_start() {
    local dir=$root/dovecot
    if ! command -v dovecot >/dev/null; then
        echo "test-servers: dovecot not installed (package dovecot-pop3d); POP3 tests will skip" >&2
        return 0
    fi
    pop3_stop
    rm -rf "$dir"
    mkdir -p "$dir/state"
    local port tls_port=0
    port=$(free_port)

    # TLS on both listeners (STLS on the plain one) with a certificate of a test CA, when
    # openssl can make them; plain POP3 stays allowed on the plain listener.
    local ssl_lines="ssl = no"
    if command -v openssl >/dev/null; then
        make_test_tls "$dir/tls"
        tls_port=$(free_port)
        while [ "$tls_port" = "$port" ]; do tls_port=$(free_port); done
        ssl_lines="ssl = yes
ssl_cert = <$dir/tls/server.pem
ssl_key = <$dir/tls/server.key"
        [ ! -f /usr/share/dovecot/dh.pem ] || ssl_lines="$ssl_lines
ssl_dh = </usr/share/dovecot/dh.pem"
    else
        echo "test-servers: openssl not installed; the POP3 TLS tests will skip" >&2
    fi

    # Dovecot never reads mail as root. As root (CI) the mail processes run as "nobody" and
    # the login and internal processes as Dovecot's own users, while authentication runs as
    # root so that the passwd-file stays private. As an ordinary user every process runs as
    # that user.
    local uid gid internal_user internal_group login_user chroot_login auth_user
    if [ "$(id -u)" -eq 0 ]; then
        uid=$(id -u nobody)
        gid=$(id -g nobody)
        internal_user=dovecot
        internal_group=dovecot
        login_user=dovenull
        chroot_login=login
        auth_user=root
    else
        uid=$(id -u)
        gid=$(id -g)
        internal_user=$(id -un)
        internal_group=$(id -gn)
        login_user=$internal_user
        chroot_login=
        auth_user=$internal_user
    fi

    # Sockets and mailboxes live under the build directory, unless its path is too long for
    # a socket (107 bytes) or, as root, out of reach of the mail user (a build directory under
    # a private home); then they move to a fresh folder under /tmp, removed by "stop".
    local data=$dir
    if [ ${#dir} -gt 60 ] ||
        { [ "$(id -u)" -eq 0 ] && ! runuser -u nobody -- test -x "$dir" 2>/dev/null; }; then
        data=$(mktemp -d /tmp/corvane-dovecot.XXXXXX)
        chmod 755 "$data"
        echo "$data" >"$dir/private-data"
    fi
    local base_dir=$data/run
    mkdir -p "$base_dir" "$data/mail" "$data/home"

    : >"$dir/passwd"
    chmod 600 "$dir/passwd"
    local user
    for user in $pop3_users; do
        mkdir -p "$data/mail/$user/cur" "$data/mail/$user/new" "$data/mail/$user/tmp" "$data/home/$user"
        echo "$user:{PLAIN}$pop3_password:$uid:$gid::$data/home/$user::userdb_mail=maildir:$data/mail/$user" >>"$dir/passwd"
    done
    chown -R "$uid:$gid" "$data/mail" "$data/home"

    cat >"$dir/dovecot.conf" <<EOF
# Private instance for Corvane's end-to-end tests; written by scripts/test-servers.sh.
protocols = pop3
listen = 127.0.0.1
base_dir = $base_dir
state_dir = $dir/state
instance_name = corvane-test-$port
log_path = $dir/dovecot.log
info_log_path = $dir/dovecot.log
$ssl_lines
disable_plaintext_auth = no
auth_mechanisms = plain
# Failed logins are answered at once: the tests try wrong passwords on purpose.
auth_failure_delay = 0
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
first_valid_uid = 0
first_valid_gid = 0
mail_privileged_group =
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $dir/passwd
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/passwd
}
service pop3-login {
  chroot = $chroot_login
  inet_listener pop3 {
    address = 127.0.0.1
    port = $port
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $tls_port
    ssl = yes
  }
}
service anvil {
  chroot =
}
service auth {
  user = $auth_user
}
service auth-worker {
  user = $auth_user
}
EOF
    # The master process keeps the descriptors it was started with: they go to a file of its
    # own, so that a caller reading this script's output through a pipe sees it end.
    dovecot -c "$dir/dovecot.conf" </dev/null >"$dir/dovecot.out" 2>&1
    if ! wait_for_greeting 127.0.0.1 "$port" "+OK"; then
        echo "test-servers: Dovecot did not start; its log:" >&2
        cat "$dir/dovecot.out" "$dir/dovecot.log" >&2 || true
        pop3_stop
        return 1
    fi
    cp "$base_dir/master.pid" "$dir/dovecot.pid"
    cat >>"$env_file" <<EOF
CORVANE_POP3_HOST=127.0.0.1
CORVANE_POP3_PORT=$port
CORVANE_POP3_USERS=$pop3_user_list
CORVANE_POP3_PASSWORD=$pop3_password
CORVANE_POP3_MAILDIR_ROOT=$data/mail
EOF
    if [ "$tls_port" != 0 ]; then
        cat >>"$env_file" <<EOF
CORVANE_POP3S_PORT=$tls_port
CORVANE_POP3_CA=$dir/tls/ca.pem
EOF
    fi
    echo "test-servers: Dovecot POP3 on 127.0.0.1:$port (log: $dir/dovecot.log)"

    # The second instance: the same mailboxes, logins only with an OAuth access token (SASL
    # XOAUTH2 and OAUTHBEARER) that Dovecot's oauth2 passdb checks at the test authorization
    # server's introspection endpoint.
    [ -n "${oauth_port:-}" ] || return 0
    local oport otls_port=0
    oport=$(free_port)
    while [ "$oport" = "$port" ] || [ "$oport" = "$tls_port" ]; do oport=$(free_port); done
    local olisteners="  inet_listener pop3 {
    address = 127.0.0.1
    port = $oport
  }"
    if [ "$tls_port" != 0 ]; then
        otls_port=$(free_port)
        while [ "$otls_port" = "$port" ] || [ "$otls_port" = "$tls_port" ] ||
            [ "$otls_port" = "$oport" ]; do otls_port=$(free_port); done
        olisteners="$olisteners
  inet_listener pop3s {
    address = 127.0.0.1
    port = $otls_port
    ssl = yes
  }"
    fi
    mkdir -p "$data/run-oauth" "$dir/state-oauth"
    cat >"$dir/dovecot-oauth2.conf.ext" <<CONF
introspection_url = http://127.0.0.1:$oauth_port/introspect
introspection_mode = post
force_introspection = yes
username_attribute = username
active_attribute = active
active_value = true
timeout_msecs = 10000
CONF
    cat >"$dir/dovecot-oauth.conf" <<CONF
# Private OAuth instance for Corvane's end-to-end tests; written by scripts/test-servers.sh.
protocols = pop3
listen = 127.0.0.1
base_dir = $data/run-oauth
state_dir = $dir/state-oauth
instance_name = corvane-test-oauth-$oport
log_path = $dir/dovecot-oauth.log
info_log_path = $dir/dovecot-oauth.log
$ssl_lines
disable_plaintext_auth = no
auth_mechanisms = xoauth2 oauthbearer
auth_failure_delay = 0
default_internal_user = $internal_user
default_internal_group = $internal_group
default_login_user = $login_user
first_valid_uid = 0
first_valid_gid = 0
mail_privileged_group =
pop3_uidl_format = %08Xu%08Xv
passdb {
  driver = oauth2
  mechanisms = xoauth2 oauthbearer
  args = $dir/dovecot-oauth2.conf.ext
}
userdb {
  driver = passwd-file
  args = username_format=%u $dir/passwd
}
service pop3-login {
  chroot = $chroot_login
$olisteners
}
service anvil {
  chroot =
}
service auth {
  user = $auth_user
}
service auth-worker {
  user = $auth_user
}
CONF
    dovecot -c "$dir/dovecot-oauth.conf" </dev/null >"$dir/dovecot-oauth.out" 2>&1
    if ! wait_for_greeting 127.0.0.1 "$oport" "+OK"; then
        echo "test-servers: the OAuth Dovecot did not start; its log:" >&2
        cat "$dir/dovecot-oauth.out" "$dir/dovecot-oauth.log" >&2 || true
        pop3_stop
        return 1
    fi
    cp "$data/run-oauth/master.pid" "$dir/dovecot-oauth.pid"
    echo "CORVANE_OAUTH_POP3_PORT=$oport" >>"$env_file"
    [ "$otls_port" = 0 ] || echo "CORVANE_OAUTH_POP3S_PORT=$otls_port" >>"$env_file"
    echo "test-servers: Dovecot POP3 with OAuth on 127.0.0.1:$oport (log: $dir/dovecot-oauth.log)"
}

pop3_stop() {
    local dir=$root/dovecot
    stop_pid_file "$dir/dovecot-oauth.pid"
    stop_pid_file "$dir/dovecot.pid"
    if [ -f "$dir/private-data" ]; then
        rm -rf "$(cat "$dir/private-data")"
        rm -f "$dir/private-data"
    fi
}

# ---------------------------------------------------------------------------------------
# OAuth 2.0: scripts/oauth-server.py, a small authorization server (Python's standard library)
# that approves every sign-in of its one client at once; Dovecot's second instance and an SMTP
# server check the access tokens it issues.
#
# Keys in test-servers.env:
#   CORVANE_OAUTH_URL          http://127.0.0.1:PORT: /authorize, /token, /device,
#                              /introspect, and /admin/... for the tests (see the script)
#   CORVANE_OAUTH_CLIENT_ID    the one client id it accepts (a public client, no secret)
#   CORVANE_OAUTH_USERS        the POP3 users that sign in with OAuth (Maildirs as above)
#   CORVANE_OAUTH_POP3_PORT    Dovecot taking only XOAUTH2 and OAUTHBEARER (plain TCP)
#   CORVANE_OAUTH_POP3S_PORT   the same with TLS from the first byte (with openssl; the CA is
#                              CORVANE_POP3_CA)
#   CORVANE_OAUTH_SMTP_PORT    an SMTP server with TLS from the first byte (with openssl and
#                              python3-aiosmtpd) taking only XOAUTH2 and OAUTHBEARER; its
#                              messages land in CORVANE_SMTP_SINK_DIR as oauth-NNNNNN.eml, their
#                              envelopes ending in "AUTH <user>"; the CA is CORVANE_SUBMISSION_CA
# ---------------------------------------------------------------------------------------
oauth_client_id="corvane-test-client"
oauth_port=

oauth_start() {
    local dir=$root/oauth
    oauth_stop
    rm -rf "$dir"
    mkdir -p "$dir"
    oauth_port=$(free_port)
    local script
    script=$(cd "$(dirname "$0")" && pwd)/oauth-server.py
    python3 "$script" 127.0.0.1 "$oauth_port" "$oauth_client_id" e2e-oauth </dev/null \
        >"$dir/oauth.log" 2>&1 &
    echo $! >"$dir/oauth.pid"
    if ! python3 - "$oauth_port" <<'PYEOF'; then
import sys, time, urllib.request
deadline = time.time() + 10
while time.time() < deadline:
    try:
        urllib.request.urlopen("http://127.0.0.1:%s/admin/stats" % sys.argv[1], timeout=2)
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PYEOF
        echo "test-servers: the OAuth server did not start; its log:" >&2
        cat "$dir/oauth.log" >&2 || true
        oauth_stop
        oauth_port=
        return 1
    fi
    cat >>"$env_file" <<ENV
CORVANE_OAUTH_URL=http://127.0.0.1:$oauth_port
CORVANE_OAUTH_CLIENT_ID=$oauth_client_id
CORVANE_OAUTH_USERS=${oauth_users// /,}
ENV
    echo "test-servers: OAuth authorization server on 127.0.0.1:$oauth_port"
}

oauth_stop() {
    stop_pid_file "$root/oauth/oauth.pid"
}

# ---------------------------------------------------------------------------------------
# SMTP sink: scripts/smtp-sink.py on Debian's python3-aiosmtpd; it accepts every message.
#
# Keys in test-servers.env:
#   CORVANE_SMTP_HOST, CORVANE_SMTP_PORT   where it listens (plain SMTP, no authentication)
#   CORVANE_SMTP_SINK_DIR                  every accepted message lands in
#                                          $CORVANE_SMTP_SINK_DIR/new/ as NNNNNN.eml (the data
#                                          as received, dot-stuffing undone) beside
#                                          NNNNNN.envelope ("MAIL FROM:<a>", then one
#                                          "RCPT TO:<b>" line per recipient), the envelope
#                                          written last; test programs share the sink, so each
#                                          finds its messages by a recipient of its own
#   CORVANE_SUBMISSION_PORT                a submission server (with openssl) that takes mail
#                                          only after STARTTLS and AUTH PLAIN or LOGIN with
#                                          the user below; its messages land in the same
#                                          folder as submission-NNNNNN.eml, their envelopes
#                                          ending in "TLS yes" and "AUTH <user>"
#   CORVANE_SUBMISSIONS_PORT               the same with TLS from the first byte (as on 465);
#                                          its messages are named smtps-NNNNNN.eml
#   CORVANE_SUBMISSION_USER, CORVANE_SUBMISSION_PASSWORD   the one login both accept
#   CORVANE_SUBMISSION_CA                  the test CA's certificate (PEM) that signed both
#                                          servers' certificate (127.0.0.1 and localhost)
# ---------------------------------------------------------------------------------------
submission_user="e2e-submit"
submission_password="corvane-submit-pw"

smtp_start() {
    local dir=$root/smtp-sink python=
    local candidate
    for candidate in /usr/bin/python3 python3; do
        if "$candidate" -c 'import aiosmtpd' 2>/dev/null; then
            python=$candidate
            break
        fi
    done
    if [ -z "$python" ]; then
        echo "test-servers: python3-aiosmtpd not installed; SMTP tests will skip" >&2
        return 0
    fi
    smtp_stop
    rm -rf "$dir"
    mkdir -p "$dir/mail"
    local port
    port=$(free_port)
    local script
    script=$(cd "$(dirname "$0")" && pwd)/smtp-sink.py
    "$python" "$script" 127.0.0.1 "$port" "$dir/mail" </dev/null >"$dir/sink.log" 2>&1 &
    echo $! >"$dir/sink.pid"
    if ! wait_for_greeting 127.0.0.1 "$port" "220"; then
        echo "test-servers: the SMTP sink did not start; its log:" >&2
        cat "$dir/sink.log" >&2 || true
        smtp_stop
        return 1
    fi
    cat >>"$env_file" <<EOF
CORVANE_SMTP_HOST=127.0.0.1
CORVANE_SMTP_PORT=$port
CORVANE_SMTP_SINK_DIR=$dir/mail
EOF
    echo "test-servers: SMTP sink on 127.0.0.1:$port (messages: $dir/mail/new)"

    # The submission servers: STARTTLS and TLS from the first byte, each requiring a login,
    # with a certificate of a test CA that only the tests trust.
    if ! command -v openssl >/dev/null; then
        echo "test-servers: openssl not installed; the SMTP submission tests will skip" >&2
        return 0
    fi
    make_test_tls "$dir/tls"
    local submission_port submissions_port
    submission_port=$(free_port)
    while [ "$submission_port" = "$port" ]; do submission_port=$(free_port); done
    submissions_port=$(free_port)
    while [ "$submissions_port" = "$port" ] || [ "$submissions_port" = "$submission_port" ]; do
        submissions_port=$(free_port)
    done
    local tls_args=(--cert "$dir/tls/server.pem" --key "$dir/tls/server.key"
        --login "$submission_user:$submission_password")
    "$python" "$script" --prefix submission- --starttls "${tls_args[@]}" 127.0.0.1 \
        "$submission_port" "$dir/mail" </dev/null >"$dir/submission.log" 2>&1 &
    echo $! >"$dir/submission.pid"
    "$python" "$script" --prefix smtps- --tls "${tls_args[@]}" 127.0.0.1 \
        "$submissions_port" "$dir/mail" </dev/null >"$dir/smtps.log" 2>&1 &
    echo $! >"$dir/smtps.pid"
    if ! wait_for_greeting 127.0.0.1 "$submission_port" "220"; then
        echo "test-servers: the SMTP submission server did not start; its log:" >&2
        cat "$dir/submission.log" >&2 || true
        smtp_stop
        return 1
    fi
    if ! python3 - "$submissions_port" "$dir/tls/ca.pem" <<'PYEOF'; then
import socket, ssl, sys, time
context = ssl.create_default_context(cafile=sys.argv[2])
deadline = time.time() + 10
while time.time() < deadline:
    try:
        with socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2) as raw:
            with context.wrap_socket(raw, server_hostname="127.0.0.1") as s:
                if s.makefile("rb").readline().startswith(b"220"):
                    sys.exit(0)
    except OSError:
        pass
    time.sleep(0.1)
sys.exit(1)
PYEOF
        echo "test-servers: the SMTP server with TLS did not start; its log:" >&2
        cat "$dir/smtps.log" >&2 || true
        smtp_stop
        return 1
    fi
    cat >>"$env_file" <<EOF
CORVANE_SUBMISSION_PORT=$submission_port
CORVANE_SUBMISSIONS_PORT=$submissions_port
CORVANE_SUBMISSION_USER=$submission_user
CORVANE_SUBMISSION_PASSWORD=$submission_password
CORVANE_SUBMISSION_CA=$dir/tls/ca.pem
EOF
    echo "test-servers: SMTP submission on 127.0.0.1:$submission_port (STARTTLS) and" \
        ":$submissions_port (TLS), login $submission_user"

    # The SMTP server whose login is an OAuth access token.
    [ -n "${oauth_port:-}" ] || return 0
    local oauth_smtp_port
    oauth_smtp_port=$(free_port)
    "$python" "$script" --prefix oauth- --tls --cert "$dir/tls/server.pem" \
        --key "$dir/tls/server.key" --oauth "http://127.0.0.1:$oauth_port/introspect" \
        127.0.0.1 "$oauth_smtp_port" "$dir/mail" </dev/null >"$dir/oauth-smtp.log" 2>&1 &
    echo $! >"$dir/oauth-smtp.pid"
    if ! python3 -c 'import socket, sys, time
deadline = time.time() + 10
while time.time() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)' "$oauth_smtp_port"; then
        echo "test-servers: the OAuth SMTP server did not start; its log:" >&2
        cat "$dir/oauth-smtp.log" >&2 || true
        smtp_stop
        return 1
    fi
    echo "CORVANE_OAUTH_SMTP_PORT=$oauth_smtp_port" >>"$env_file"
    echo "test-servers: SMTP with OAuth (TLS) on 127.0.0.1:$oauth_smtp_port"
}

smtp_stop() {
    stop_pid_file "$root/smtp-sink/sink.pid"
    stop_pid_file "$root/smtp-sink/submission.pid"
    stop_pid_file "$root/smtp-sink/smtps.pid"
    stop_pid_file "$root/smtp-sink/oauth-smtp.pid"
}

# ---------------------------------------------------------------------------------------
# HTTP server: a private nginx serving one folder over HTTP and over HTTPS, the HTTPS
# certificate signed by a test CA made afresh at every start.
#
# Keys in test-servers.env:
#   CORVANE_HTTP_HOST                      where it listens (127.0.0.1)
#   CORVANE_HTTP_PORT, CORVANE_HTTPS_PORT  plain HTTP and HTTPS (certificate for 127.0.0.1
#                                          and localhost); both keep connections alive
#   CORVANE_HTTP_ROOT                      the folder served: a file at $CORVANE_HTTP_ROOT/a/b
#                                          is http://host:port/a/b; test programs share it, so
#                                          each writes under a folder of its own
#   CORVANE_HTTP_CA                        the test CA's certificate (PEM), for clients to trust
#   Over HTTPS, every address under /redirect-to-http/ answers 301 with a plain http://
#   location.
# ---------------------------------------------------------------------------------------
http_start() {
    local dir=$root/nginx nginx=
    if command -v nginx >/dev/null 2>&1; then
        nginx=$(command -v nginx)
    elif [ -x /usr/sbin/nginx ]; then
        nginx=/usr/sbin/nginx
    fi
    if [ -z "$nginx" ]; then
        echo "test-servers: nginx not installed (package nginx); HTTP tests will skip" >&2
        return 0
    fi
    if ! command -v openssl >/dev/null; then
        echo "test-servers: openssl not installed; HTTP tests will skip" >&2
        return 0
    fi
    http_stop
    rm -rf "$dir"
    mkdir -p "$dir/www" "$dir/tls" "$dir/temp" "$dir/logs"
    local port tls_port
    port=$(free_port)
    tls_port=$(free_port)
    while [ "$tls_port" = "$port" ]; do tls_port=$(free_port); done

    # The test CA and the server's certificate, made for this start only.
    local tls=$dir/tls
    make_test_tls "$tls"

    # As root nginx's workers would run as "nobody", who may not reach the build directory;
    # they run as the caller instead.
    local user_line=
    [ "$(id -u)" -ne 0 ] || user_line="user root;"
    cat >"$dir/nginx.conf" <<EOF
# Private instance for Corvane's end-to-end tests; written by scripts/test-servers.sh.
$user_line
daemon on;
worker_processes 1;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
events {
    worker_connections 64;
}
http {
    access_log $dir/logs/access.log;
    client_body_temp_path $dir/temp/body;
    proxy_temp_path $dir/temp/proxy;
    fastcgi_temp_path $dir/temp/fastcgi;
    uwsgi_temp_path $dir/temp/uwsgi;
    scgi_temp_path $dir/temp/scgi;
    default_type application/octet-stream;
    keepalive_timeout 30s;
    server {
        listen 127.0.0.1:$port;
        root $dir/www;
    }
    server {
        listen 127.0.0.1:$tls_port ssl;
        ssl_certificate $tls/server.pem;
        ssl_certificate_key $tls/server.key;
        root $dir/www;
        # A redirection off HTTPS, which clients must refuse rather than follow.
        location /redirect-to-http/ {
            return 301 http://127.0.0.1:$port/;
        }
    }
}
EOF
    # Detached from this script's output like Dovecot: the daemon keeps what it was given.
    if ! "$nginx" -p "$dir" -c "$dir/nginx.conf" -e "$dir/logs/error.log" </dev/null \
        >"$dir/logs/start.log" 2>&1; then
        echo "test-servers: nginx did not start; its log:" >&2
        cat "$dir/logs/start.log" "$dir/logs/error.log" >&2 || true
        http_stop
        return 1
    fi
    if ! python3 -c 'import socket, sys, time
deadline = time.time() + 10
while time.time() < deadline:
    try:
        socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2).close()
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)' "$port"; then
        echo "test-servers: nginx does not answer; its log:" >&2
        cat "$dir/logs/error.log" >&2 || true
        http_stop
        return 1
    fi
    cat >>"$env_file" <<EOF
CORVANE_HTTP_HOST=127.0.0.1
CORVANE_HTTP_PORT=$port
CORVANE_HTTPS_PORT=$tls_port
CORVANE_HTTP_ROOT=$dir/www
CORVANE_HTTP_CA=$tls/ca.pem
EOF
    echo "test-servers: nginx on 127.0.0.1:$port (HTTP) and :$tls_port (HTTPS), serving $dir/www"
}

http_stop() {
    stop_pid_file "$root/nginx/nginx.pid"
}

# ---------------------------------------------------------------------------------------
# DNS server: scripts/dns-test-server.py on Debian's python3-dnslib, answering from zone
# files that the tests write (see the script for the names that stay silent or answer late).
# Resolvers send queries to port 53 only, so it needs root (as in CI); it listens on a
# loopback address of its own, 127.53.X.Y, chosen free at every start.
#
# Keys in test-servers.env:
#   CORVANE_DNS_ADDRESS    where it listens (UDP and TCP, port 53)
#   CORVANE_DNS_ZONE_DIR   every *.zone file there is read for every query; test programs
#                          share it, so each writes a file of its own with names of its own
# ---------------------------------------------------------------------------------------
dns_start() {
    local dir=$root/dns python=
    if [ "$(id -u)" -ne 0 ]; then
        echo "test-servers: not root, so no DNS server on port 53; DNS tests will skip" >&2
        return 0
    fi
    local candidate
    for candidate in /usr/bin/python3 python3; do
        if "$candidate" -c 'import dnslib' 2>/dev/null; then
            python=$candidate
            break
        fi
    done
    if [ -z "$python" ]; then
        echo "test-servers: python3-dnslib not installed; DNS tests will skip" >&2
        return 0
    fi
    dns_stop
    rm -rf "$dir"
    mkdir -p "$dir/zones"
    local address
    address=$("$python" -c 'import random, socket
for _ in range(200):
    a = "127.53.%d.%d" % (random.randint(0, 255), random.randint(1, 254))
    try:
        u = socket.socket(socket.AF_INET, socket.SOCK_DGRAM); u.bind((a, 53))
        t = socket.socket(); t.bind((a, 53))
        u.close(); t.close()
        print(a)
        break
    except OSError:
        pass')
    if [ -z "$address" ]; then
        echo "test-servers: no free loopback address for the DNS server" >&2
        return 1
    fi
    local script
    script=$(cd "$(dirname "$0")" && pwd)/dns-test-server.py
    "$python" "$script" "$address" 53 "$dir/zones" </dev/null >"$dir/dns.log" 2>&1 &
    echo $! >"$dir/dns.pid"
    if ! "$python" - "$address" <<'PYEOF'; then
import sys, time
from dnslib import DNSRecord
deadline = time.time() + 10
while time.time() < deadline:
    try:
        DNSRecord.question("ready.invalid", "SRV").send(sys.argv[1], 53, timeout=1)
        sys.exit(0)
    except OSError:
        time.sleep(0.1)
sys.exit(1)
PYEOF
        echo "test-servers: the DNS server did not start; its log:" >&2
        cat "$dir/dns.log" >&2 || true
        dns_stop
        return 1
    fi
    cat >>"$env_file" <<EOF
CORVANE_DNS_ADDRESS=$address
CORVANE_DNS_ZONE_DIR=$dir/zones
EOF
    echo "test-servers: DNS on $address:53 (zones: $dir/zones)"
}

dns_stop() {
    stop_pid_file "$root/dns/dns.pid"
}

case $command in
start)
    mkdir -p "$root"
    rm -f "$env_file"
    echo "# Loopback test servers; written by scripts/test-servers.sh" >"$env_file"
    oauth_start || true
    pop3_start
    smtp_start
    http_start
    dns_start
    ;;
stop)
    pop3_stop
    smtp_stop
    oauth_stop
    http_stop
    dns_stop
    rm -f "$env_file"
    ;;
*)
    usage
    ;;
esac
