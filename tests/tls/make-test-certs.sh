#!/bin/sh
# A small public-key infrastructure for the TLS tests, made fresh in DIR:
#   ca.pem/.key          the test CA that [TLS] CACertificates trusts
#   otherca.pem/.key     a CA nobody trusts
#   archive.pem/.key     the archive's certificate, signed by ca
#   stranger.pem/.key    an archive certificate signed by otherca
#   expired.pem/.key     signed by ca, valid only in 2020
#   future.pem/.key      signed by ca, valid only from 2090
#   station.pem/.key     this station's client certificate, signed by ca
#   other.key            a key that belongs to no certificate here
#   dest.pem/.key        a C-MOVE destination's certificate, signed by ca
# The archive certificates above name the loopback host (DNS:localhost,
# IP:127.0.0.1, IP:::1), as the station checks the archive's name:
#   evil.pem/.key        signed by ca, but for evil.example (another machine
#                        the CA vouches for)
#   named.pem/.key       signed by ca for archive.example only (no address)
#   revoked.pem/.key     signed by ca for the loopback host, then revoked
#   crl.pem              ca's list of revoked certificates (revoked.pem on it)
#   crl-expired.pem      the same list, due for renewal in 2020
#   protected.key        station.key under the passphrase "secret"
#   open.key             station.key readable by every user (0644)
#   group.key            station.key readable by its group (0640), as on a shared station
#   fifo.key             a named pipe where a key should be
# Keys are 0600, as a station keeps its own.
# Usage: make-test-certs.sh DIR
set -eu
cd "$1"
umask 077

# P-256 keys: made in milliseconds, where RSA keys take seconds on a busy machine.
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key" 2>/dev/null; }
authority() {
  key "$1"
  openssl req -x509 -new -key "$1.key" -subj "/CN=$2" -days 3 -out "$1.pem" 2>/dev/null
}
request() {
  key "$1"
  openssl req -new -key "$1.key" -subj "/CN=$2" -out "$1.csr" 2>/dev/null
}
# The subjectAltName of an archive certificate: "loopback" or a given list.
san() {
  case "$1" in
    loopback) echo "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" ;;
    "") : ;;
    *) echo "subjectAltName=$1" ;;
  esac > "$2.ext"
}
# signed NAME CN CA [SAN]
signed() {
  request "$1" "$2"
  san "${4:-}" "$1"
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 3 -extfile "$1.ext" \
    -out "$1.pem" 2>/dev/null
}
# dated NAME CN START END [SAN]: signed by ca, valid from START to END (YYYYMMDDhhmmssZ)
dated() {
  request "$1" "$2"
  san "${5:-}" "$1"
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" -notext \
    -startdate "$3" -enddate "$4" -extfile "$1.ext" 2>/dev/null
}

authority ca "Morvanta Test CA"
authority otherca "Untrusted Test CA"
signed archive "localhost" ca loopback
signed stranger "localhost" otherca loopback
signed station "MORVANTA" ca
signed dest "localhost" ca loopback
signed evil "evil.example" ca "DNS:evil.example"
signed named "archive.example" ca "DNS:archive.example"
key other

# openssl ca is the one tool that signs with dates in the past or future,
# and keeps the list a CRL is made from.
cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial.txt
default_md = sha256
default_crl_days = 3
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
: > index.txt
echo 1000 > serial.txt
dated expired "localhost" 20200101000000Z 20200201000000Z loopback
dated future "localhost" 20900101000000Z 20900201000000Z loopback
dated revoked "localhost" 20200101000000Z 20900101000000Z loopback
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -revoke revoked.pem 2>/dev/null
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -gencrl -out crl.pem 2>/dev/null
openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -gencrl -crl_lastupdate 20200101000000Z \
  -crl_nextupdate 20200201000000Z -out crl-expired.pem 2>/dev/null

openssl pkey -in station.key -aes-256-cbc -passout pass:secret -out protected.key 2>/dev/null
cp station.key open.key
chmod 0644 open.key
cp station.key group.key
chmod 0640 group.key
rm -f fifo.key
mkfifo fifo.key
# The certificates are public; the tests' archives and peers read them as any user.
chmod 0644 ./*.pem
