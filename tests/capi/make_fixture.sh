#!/bin/sh
# Test material for the CryptoAPI engines, made with OpenSSL on the build host: a CA, users
# "alice", "bob" and "carol" (certificates in DER, keys as Microsoft PRIVATEKEYBLOBs for
# CryptImportKey), certificates kept out of the directory (a newcomer, a second one of bob, a
# UID that is no file name, the longest names, an expired one, a broken signature, no issuer), a
# user of an unknown CA, a forgery of bob's certificate (same issuer and serial, other key), a
# CRL revoking carol, and (with OpenSSL's GOST engine) the same users with GOST keys.
set -e
out=$1
rm -rf "$out"
mkdir -p "$out/ca" "$out/abonents" "$out/other"
cd "$out"
cat > ext.cnf <<'CNF'
[ca]
basicConstraints=critical,CA:true
keyUsage=critical,keyCertSign,cRLSign
[user]
basicConstraints=CA:false
keyUsage=digitalSignature,keyEncipherment
CNF
days=3650
openssl req -x509 -newkey rsa:2048 -nodes -keyout ca.key -subj "/CN=ZK Test CA" -days $days \
  -addext "basicConstraints=critical,CA:true" \
  -addext "keyUsage=critical,keyCertSign,cRLSign" -outform DER -out ca/ca.cer
openssl x509 -inform DER -in ca/ca.cer -out ca.pem
serial=100
for user in alice bob carol; do
  serial=$((serial + 1))
  openssl genrsa -out $user.key 1024 2>/dev/null
  openssl req -new -key $user.key -subj "/CN=$user/O=ZK Test" -out $user.csr
  openssl x509 -req -in $user.csr -CA ca.pem -CAkey ca.key -set_serial $serial -days $days \
    -extfile ext.cnf -extensions user -outform DER -out abonents/$user.cer 2>/dev/null
  openssl x509 -inform DER -in abonents/$user.cer -out $user.pem
  openssl rsa -in $user.key -outform MSBLOB -out $user.blob 2>/dev/null
done
# Certificates of the real CA kept out of the correspondents' directory: dave (a newcomer), a
# second certificate of bob (another key, another serial), a UID that is no plain file name, and
# four correspondents with the longest common names, for the conformance suite.
mkdir -p largest
issue() {  # name subject serial outfile
  openssl genrsa -out $1.key 1024 2>/dev/null
  openssl req -new -key $1.key -subj "$2" -out $1.csr
  openssl x509 -req -in $1.csr -CA ca.pem -CAkey ca.key -set_serial $3 -days $days \
    -extfile ext.cnf -extensions user -outform DER -out $4 2>/dev/null
  openssl rsa -in $1.key -outform MSBLOB -out $1.blob 2>/dev/null
}
issue dave "/CN=dave/O=ZK Test" 110 other/dave.cer
issue bob_new "/CN=bob/O=ZK Test" 111 other/bob_new.cer
issue evil '/CN=..\\evil/O=ZK Test' 112 other/evil.cer
long=LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL
for i in 1 2 3 4; do issue largest$i "/CN=$long$i$i/O=ZK Test" $((120 + i)) largest/largest$i.cer; done
# A certificate for the report: every kind of alternative name, a private-key usage period, the
# previous certificate's hash and a container name.
mkdir -p report
cat > report.cnf <<'CNF'
[rich]
basicConstraints=CA:false
keyUsage=digitalSignature,keyEncipherment
subjectAltName=@alt
issuerAltName=email:ca@zk.test
2.5.29.16=ASN1:SEQUENCE:period
1.3.6.1.4.1.311.21.2=ASN1:FORMAT:HEX,OCTETSTRING:A1B2C3D4
1.3.6.1.4.1.10244.4.3=ASN1:UTF8String:rich-container
[alt]
email.1=rich@zk.test
email.2=r2@zk.test
DNS=rich.zk.test
URI=http://zk.test/rich
IP=10.1.2.3
RID=1.2.3.4.5
otherName.1=2.5.4.10;UTF8:ZK Bank
otherName.2=2.5.4.12;UTF8:7
otherName.3=2.5.4.4;UTF8:Richards
otherName.4=2.5.4.20;UTF8:+7 495 1234567
otherName.5=2.5.4.13;UTF8:Treasury
[period]
notBefore=IMPLICIT:0,GENTIME:20250102030405Z
notAfter=IMPLICIT:1,GENTIME:20301231235958Z
CNF
openssl genrsa -out rich.key 1024 2>/dev/null
openssl req -new -key rich.key -subj "/CN=rich/O=ZK Test" -out rich.csr
openssl x509 -req -in rich.csr -CA ca.pem -CAkey ca.key -set_serial 150 -days $days \
  -extfile report.cnf -extensions rich -outform DER -out report/rich.cer 2>/dev/null
openssl x509 -inform DER -in report/rich.cer -out rich.pem
# The forgery: a CA of the same name with another key issues "bob" with bob's serial.
openssl req -x509 -newkey rsa:2048 -nodes -keyout fake_ca.key -subj "/CN=ZK Test CA" -days $days -out fake_ca.pem 2>/dev/null
openssl genrsa -out forged.key 1024 2>/dev/null
openssl req -new -key forged.key -subj "/CN=bob/O=ZK Test" -out forged.csr
openssl x509 -req -in forged.csr -CA fake_ca.pem -CAkey fake_ca.key -set_serial 102 -days $days \
  -extfile ext.cnf -extensions user -outform DER -out other/forged.cer 2>/dev/null
openssl rsa -in forged.key -outform MSBLOB -out forged.blob 2>/dev/null
# A user whose certificate comes from a CA nobody trusts.
openssl genrsa -out stranger.key 1024 2>/dev/null
openssl req -new -key stranger.key -subj "/CN=stranger/O=ZK Test" -out stranger.csr
openssl x509 -req -in stranger.csr -CA fake_ca.pem -CAkey fake_ca.key -set_serial 200 -days $days \
  -extfile ext.cnf -extensions user -outform DER -out other/stranger.cer 2>/dev/null
# bob's certificate in PEM with "\n" line ends, for the PEM loader.
cp bob.pem other/bob_pem.cer
# For the chain codes: one certificate whose issuer nobody has, and (below, through the CA's
# database) one of the CA that has expired.
openssl req -x509 -newkey rsa:1024 -nodes -keyout orphan_ca.key -subj "/CN=Nobody's CA" -days $days -out orphan_ca.pem 2>/dev/null
openssl genrsa -out orphan.key 1024 2>/dev/null
openssl req -new -key orphan.key -subj "/CN=orphan/O=ZK Test" -out orphan.csr
openssl x509 -req -in orphan.csr -CA orphan_ca.pem -CAkey orphan_ca.key -set_serial 300 -days $days \
  -extfile ext.cnf -extensions user -outform DER -out other/orphan.cer 2>/dev/null
# dave's certificate with the last byte of its signature changed.
cp other/dave.cer other/dave_badsig.cer
printf 'U' | dd of=other/dave_badsig.cer bs=1 seek=$(($(wc -c < other/dave.cer) - 1)) conv=notrunc 2>/dev/null
# A CRL of the CA revoking carol.
mkdir -p crl ca_db
: > ca_db/index.txt
cat > ca.cnf <<CNF
[ca]
default_ca = zk
[zk]
database = $out/ca_db/index.txt
crlnumber = $out/ca_db/crlnumber
default_md = sha256
default_crl_days = 3650
new_certs_dir = $out/ca_db
serial = $out/ca_db/serial
policy = any
[any]
commonName = supplied
CNF
echo 01 > ca_db/crlnumber
echo 71 > ca_db/serial
openssl genrsa -out old.key 1024 2>/dev/null
openssl req -new -key old.key -subj "/CN=old/O=ZK Test" -out old.csr
openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -in old.csr -batch -notext -startdate 20200101000000Z \
  -enddate 20200201000000Z -extfile ext.cnf -extensions user -out old.pem 2>/dev/null
openssl x509 -in old.pem -outform DER -out other/old.cer
openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -revoke carol.pem 2>/dev/null
openssl ca -config ca.cnf -keyfile ca.key -cert ca.pem -gencrl -out revoke_carol.pem 2>/dev/null
openssl crl -in revoke_carol.pem -outform DER -out revoke_carol.crl
# GOST R 34.10-2001 material for the Crypto-Pro engine over the Linux stand-in, made with
# OpenSSL's GOST engine (left out where OpenSSL has none): the same users, keys in PEM.
gkey() { openssl genpkey -engine gost -algorithm gost2001 -pkeyopt paramset:A -out "$1" >/dev/null 2>&1; }
if gkey gost_probe.key; then
  mkdir -p gost/ca gost/abonents gost/other gost/largest
  gkey gost/ca.key
  openssl req -engine gost -x509 -new -key gost/ca.key -subj "/CN=ZK GOST CA" -days $days \
    -addext "basicConstraints=critical,CA:true" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -outform DER -out gost/ca/ca.cer >/dev/null 2>&1
  openssl x509 -inform DER -in gost/ca/ca.cer -out gost/ca.pem
  gissue() {  # name subject serial outfile
    gkey gost/$1.key
    openssl req -engine gost -new -key gost/$1.key -subj "$2" -out gost/$1.csr >/dev/null 2>&1
    openssl x509 -engine gost -req -in gost/$1.csr -CA gost/ca.pem -CAkey gost/ca.key -set_serial $3 -days $days \
      -extfile ext.cnf -extensions user -outform DER -out $4 >/dev/null 2>&1
  }
  serial=400
  for user in alice bob carol; do serial=$((serial + 1)); gissue $user "/CN=$user/O=ZK Test" $serial gost/abonents/$user.cer; done
  gissue dave "/CN=dave/O=ZK Test" 410 gost/other/dave.cer
  for i in 1 2 3 4; do gissue largest$i "/CN=$long$i$i/O=ZK Test" $((420 + i)) gost/largest/largest$i.cer; done
fi
rm -f gost_probe.key
