#!/bin/sh
# Certificates for the chain-status check run against both the Linux stand-in and Wine's
# CryptoAPI: a CA with its CRL, and one leaf per reason a chain fails (DER, made by OpenSSL).
set -e
out=$1
rm -rf "$out"
mkdir -p "$out"
cd "$out"
key() { openssl genrsa -out "$1" 1024 2>/dev/null; }
printf 'basicConstraints=critical,CA:true\nkeyUsage=critical,keyCertSign,cRLSign\n' > ca.ext
printf 'basicConstraints=CA:false\nkeyUsage=digitalSignature,keyEncipherment\n' > leaf.ext
key ca.key
openssl req -x509 -new -key ca.key -subj "/CN=Chain Test CA" -days 3650 -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" -out ca.pem
key other.key
openssl req -x509 -new -key other.key -subj "/CN=Other CA" -days 3650 -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" -out other.pem
key inter.key
openssl req -new -key inter.key -subj "/CN=Missing Intermediate" -out inter.csr
openssl x509 -req -in inter.csr -CA ca.pem -CAkey ca.key -set_serial 90 -days 3650 -extfile ca.ext -out inter.pem 2>/dev/null
key leaf.key
openssl req -new -key leaf.key -subj "/CN=leaf" -out leaf.csr
# issue <name> <serial> <CA pem> <CA key> [openssl x509 options]
issue() {
  name=$1 serial=$2 ca=$3 cakey=$4
  shift 4
  openssl x509 -req -in leaf.csr -CA "$ca" -CAkey "$cakey" -set_serial "$serial" -extfile leaf.ext "$@" \
    -out "$name.pem" 2>/dev/null
  openssl x509 -in "$name.pem" -outform DER -out "$name.cer"
}
issue valid 101 ca.pem ca.key -days 3650
issue revoked 102 ca.pem ca.key -days 3650
issue expired 103 ca.pem ca.key -days -1
# The CA's signature with one bit flipped (its last byte).
issue forged 104 ca.pem ca.key -days 3650
last=$(tail -c 1 forged.cer | od -An -tu1 | tr -d ' ')
head -c -1 forged.cer > forged.tmp
printf "\\$(printf %o $((last ^ 1)))" >> forged.tmp
mv forged.tmp forged.cer
issue outside 105 other.pem other.key -days 3650
issue orphan 106 inter.pem inter.key -days 3650
for ca in ca other; do openssl x509 -in $ca.pem -outform DER -out $ca.cer; done
mkdir -p db
: > db/index.txt
echo 01 > db/crlnumber
cat > crl.cnf <<CNF
[ca]
default_ca = zk
[zk]
database = $out/db/index.txt
crlnumber = $out/db/crlnumber
default_md = sha256
default_crl_days = 3650
CNF
openssl ca -config crl.cnf -keyfile ca.key -cert ca.pem -revoke revoked.pem 2>/dev/null
openssl ca -config crl.cnf -keyfile ca.key -cert ca.pem -gencrl -out ca.crl.pem 2>/dev/null
openssl crl -in ca.crl.pem -outform DER -out ca.crl
