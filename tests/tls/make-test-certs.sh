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
# Usage: make-test-certs.sh DIR
set -eu
cd "$1"

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
# signed NAME CN CA [DAYS]
signed() {
  request "$1" "$2"
  openssl x509 -req -in "$1.csr" -CA "$3.pem" -CAkey "$3.key" -CAcreateserial -days 3 -out "$1.pem" 2>/dev/null
}
# dated NAME CN START END: signed by ca, valid from START to END (YYYYMMDDhhmmssZ)
dated() {
  request "$1" "$2"
  openssl ca -batch -config ca.cnf -cert ca.pem -keyfile ca.key -in "$1.csr" -out "$1.pem" -notext \
    -startdate "$3" -enddate "$4" 2>/dev/null
}

authority ca "Morvanta Test CA"
authority otherca "Untrusted Test CA"
signed archive "localhost" ca
signed stranger "localhost" otherca
signed station "MORVANTA" ca
signed dest "localhost" ca
key other

# openssl ca is the one tool that signs with dates in the past or future.
cat > ca.cnf <<'CNF'
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
serial = serial.txt
default_md = sha256
policy = any
unique_subject = no
[any]
commonName = supplied
CNF
: > index.txt
echo 1000 > serial.txt
dated expired "localhost" 20200101000000Z 20200201000000Z
dated future "localhost" 20900101000000Z 20900201000000Z
