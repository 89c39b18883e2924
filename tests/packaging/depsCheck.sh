#!/bin/bash
# scripts/deps with one package missing, apt-get, dpkg-query and sudo replaced by stand-ins
# that record their arguments: the install step must reach apt-get whoever runs it.
set -euo pipefail
deps=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
cat >"$work/bin/dpkg-query" <<'STUB'
#!/bin/sh
# Every package is installed but cmake.
for last; do :; done
[ "$last" = cmake ] && exit 1
echo "install ok installed"
STUB
cat >"$work/bin/apt-get" <<STUB
#!/bin/sh
echo "apt-get \$* DEBIAN_FRONTEND=\$DEBIAN_FRONTEND" >>"$work/calls"
STUB
cat >"$work/bin/sudo" <<STUB
#!/bin/sh
echo "sudo \$*" >>"$work/calls"
"\$@"
STUB
chmod +x "$work/bin/"*
PATH="$work/bin:$PATH" sh "$deps" >/dev/null
if ! grep -q "^apt-get install -y -qq --no-install-recommends cmake DEBIAN_FRONTEND=noninteractive$" "$work/calls"; then
    echo "apt-get was not asked to install the missing package:"
    cat "$work/calls" 2>/dev/null || echo "(no call at all)"
    exit 1
fi
if [ "$(id -u)" -eq 0 ] && grep -q '^sudo' "$work/calls"; then
    echo "root needs no sudo"
    exit 1
fi
echo "deps installs the missing package"
