#!/usr/bin/env bash
# Makes the TLS material of the loopback selector into the folder given as $1:
#   ca.pem                                the test CA that the test build trusts
#   server.pem, server-key.pem            127.0.0.1 and localhost, signed by ca.pem
#   otherhost.pem, otherhost-key.pem      another host name, signed by ca.pem
#   untrusted-ca.pem                      a second CA that nothing trusts
#   untrusted-server.pem, untrusted-server-key.pem
#                                         127.0.0.1 and localhost, signed by untrusted-ca.pem
# Material that is still valid for a month is kept, so repeated or parallel runs
# find it ready instead of replacing it under a running test.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 FOLDER" >&2
  exit 2
fi
out=$1
mkdir -p "$out"
exec 9>"$out/.lock"
flock 9

days=3650
month=$((30 * 24 * 3600))

valid() {
  local ca=$1 cert=$2 key=$3
  [ -s "$ca" ] && [ -s "$cert" ] && [ -s "$key" ] || return 1
  openssl x509 -in "$ca" -noout -checkend "$month" >/dev/null 2>&1 || return 1
  openssl x509 -in "$cert" -noout -checkend "$month" >/dev/null 2>&1 || return 1
  openssl verify -CAfile "$ca" "$cert" >/dev/null 2>&1 || return 1
  # The key belongs to the certificate.
  [ "$(openssl x509 -in "$cert" -noout -pubkey)" = "$(openssl pkey -in "$key" -pubout)" ]
}

if valid "$out/ca.pem" "$out/server.pem" "$out/server-key.pem" \
  && valid "$out/ca.pem" "$out/otherhost.pem" "$out/otherhost-key.pem" \
  && valid "$out/untrusted-ca.pem" "$out/untrusted-server.pem" "$out/untrusted-server-key.pem"; then
  exit 0
fi

work=$(mktemp -d "$out/.new-XXXXXX")
trap 'rm -rf "$work"' EXIT

newkey() {
  openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1" 2>/dev/null
}

# newca NAME SUBJECT
newca() {
  newkey "$work/$1-key.pem"
  openssl req -x509 -new -key "$work/$1-key.pem" -subj "$2" -days "$days" \
    -addext "basicConstraints=critical,CA:TRUE" \
    -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -out "$work/$1.pem"
}

# newcert NAME CA SUBJECT_ALT_NAMES
newcert() {
  local name=$1 ca=$2 san=$3 cn
  cn=${san#*:}
  cn=${cn%%,*}
  newkey "$work/$name-key.pem"
  openssl req -new -key "$work/$name-key.pem" -subj "/CN=$cn" -out "$work/$name.csr"
  cat >"$work/$name.ext" <<EXT
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = serverAuth
subjectAltName = $san
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EXT
  openssl x509 -req -in "$work/$name.csr" -CA "$work/$ca.pem" -CAkey "$work/$ca-key.pem" \
    -CAcreateserial -days "$days" -extfile "$work/$name.ext" -out "$work/$name.pem" 2>/dev/null
}

newca ca "/CN=Tessarino Test CA"
newca untrusted-ca "/CN=Tessarino Untrusted Test CA"
newcert server ca "IP:127.0.0.1,DNS:localhost"
newcert otherhost ca "DNS:other.tessarino.example"
newcert untrusted-server untrusted-ca "IP:127.0.0.1,DNS:localhost"

for f in ca.pem ca-key.pem server.pem server-key.pem otherhost.pem otherhost-key.pem \
  untrusted-ca.pem untrusted-ca-key.pem untrusted-server.pem untrusted-server-key.pem; do
  case $f in
    *-key.pem) chmod 0600 "$work/$f" ;;
    *) chmod 0644 "$work/$f" ;;
  esac
  mv -f "$work/$f" "$out/$f"
done
echo "test PKI made in $out"
