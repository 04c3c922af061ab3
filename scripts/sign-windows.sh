#!/usr/bin/env bash
# Signs Windows executables, libraries and installers with Authenticode, in place.
# Usage: scripts/sign-windows.sh FILE...   (PE .exe/.dll or .msi)
# Each file is signed into a temporary folder beside it and replaces the original only once its
# signature verifies and a copy with one byte of the signed content changed is refused.
#
# A release is signed with a certificate from the environment:
#   SOLVIKVPN_SIGN_CERT and SOLVIKVPN_SIGN_KEY  certificate chain (PEM or DER) and private key,
#   or SOLVIKVPN_SIGN_PKCS12                     one PKCS#12 file holding both;
#   SOLVIKVPN_SIGN_PASS_FILE                     file holding the key's passphrase (optional);
#   SOLVIKVPN_SIGN_TIMESTAMP_URL                 RFC 3161 timestamp server (optional);
#   SOLVIKVPN_SIGN_CAFILE                        roots to verify with (default: the system store).
# Without one, the files are signed by a throw-away test CA made for this run and timestamped by
# osslsigncode's built-in authority, so nothing reaches the network. SOLVIKVPN_SIGN_EXPORT_CA=PATH
# keeps that test root certificate for a later verification.
# Needs osslsigncode, openssl and coreutils. Exits non-zero when any file fails.
set -euo pipefail
shopt -s inherit_errexit

die() {
    echo "sign-windows.sh: $*" >&2
    exit 1
}

if [ $# -eq 0 ]; then
    echo "Usage: scripts/sign-windows.sh FILE..." >&2
    exit 2
fi
for tool in osslsigncode openssl; do
    command -v "$tool" >/dev/null || die "$tool is not installed (apt-get install $tool)"
done

# Prints the unsigned little-endian integer of $3 bytes (1, 2 or 4) at offset $2 of file $1.
le() {
    local v
    v=$(od -An -v -tu"$3" -j "$2" -N "$3" -- "$1" | tr -d ' \n')
    [ -n "$v" ] || die "$1 ends before offset $2: it is not a well-formed PE or MSI file"
    echo "$v"
}

kind_of() {
    case "$(od -An -tx1 -N8 -- "$1" | tr -d ' \n')" in
        d0cf11e0a1b11ae1) echo msi ;;
        4d5a*) echo pe ;;
        *) echo other ;;
    esac
}

for f in "$@"; do
    [ -f "$f" ] || die "no such file: $f"
    [ -w "$f" ] || die "cannot write $f"
    [ "$(kind_of "$f")" != other ] || die "$f is neither a PE executable nor an MSI package"
    [ -w "$(dirname -- "$(readlink -f -- "$f")")" ] || die "cannot write in the folder of $f"
done

# The byte to change in a signed PE: the middle of the section data, between the headers and the
# signature appended at the end. Only the checksum, the certificate table's entry and the
# signature itself lie outside the signed digest.
pe_tamper_offset() {
    local f=$1 pe magic headers dirs signature
    pe=$(le "$f" 60 4)
    magic=$(le "$f" $((pe + 24)) 2)
    headers=$(le "$f" $((pe + 24 + 60)) 4)
    case $magic in
        267) dirs=$((pe + 24 + 96)) ;;  # PE32
        523) dirs=$((pe + 24 + 112)) ;; # PE32+
        *) die "$f: unknown PE optional header $magic" ;;
    esac
    signature=$(le "$f" $((dirs + 4 * 8)) 4) # the certificate table, fifth data directory
    [ "$signature" -gt $((headers + 1)) ] || die "$f: no signature after the PE headers"
    echo $(((headers + signature) / 2))
}

# Prints the sector after sector $3 in its chain, from the allocation table of compound file $1
# with $2-byte sectors. osslsigncode writes 4096-byte sectors once 512-byte ones would outgrow the
# 109 table sectors listed in the header, so the DIFAT chain beyond them is never needed here.
cfb_next() {
    local f=$1 ss=$2 s=$3 per=$(($2 / 4)) i fat
    i=$((s / per))
    [ "$i" -lt 109 ] || die "$f: the compound file is too large for the tamper check"
    fat=$(le "$f" $((76 + 4 * i)) 4)
    le "$f" $(((fat + 1) * ss + 4 * (s % per))) 4
}

# The byte to change in a signed MSI. An MSI is an OLE compound file, and its signature covers
# the data of every stream but the signature's own: not the header, the allocation tables, the
# directory, nor the unused tail of a stream's last sector. In a small package nearly half of the
# bytes are outside the digest, so no fixed share of the file size is a safe pick. The byte is
# found through the directory instead: the middle of the first sector of the largest stream,
# usually the embedded cabinet. Names starting with \005 (the signature's streams and the summary
# information) are passed over.
msi_tamper_offset() {
    local f=$1 ss mss cutoff s root="" start=0 size=0 limit steps=0 words j w t m k
    ss=$(le "$f" 30 2)
    ss=$((1 << ss))
    mss=$(le "$f" 32 2)
    mss=$((1 << mss))
    cutoff=$(le "$f" 56 4)
    limit=$(($(stat -c %s -- "$f") / ss))
    s=$(le "$f" 48 4)
    while [ "$s" -lt $((0xFFFFFFFA)) ]; do
        steps=$((steps + 1))
        [ "$steps" -le "$limit" ] || die "$f: the compound file's directory does not end"
        read -r -a words <<<"$(od -An -v -tu4 -j $(((s + 1) * ss)) -N "$ss" -- "$f" | tr '\n' ' ')"
        [ "${#words[@]}" -eq $((ss / 4)) ] || die "$f: the compound file is cut short"
        for ((j = 0; j < ss / 4; j += 32)); do
            w=${words[j + 16]}
            t=$(((w >> 16) & 0xFF))
            if [ "$t" -eq 5 ]; then
                root=${words[j + 29]}
            elif [ "$t" -eq 2 ] && [ $((words[j] & 0xFFFF)) -ne 5 ] && [ "${words[j + 30]}" -gt "$size" ]; then
                start=${words[j + 29]}
                size=${words[j + 30]}
            fi
        done
        s=$(cfb_next "$f" "$ss" "$s")
    done
    if [ "$size" -eq 0 ] || [ -z "$root" ]; then
        die "$f: no stream to tamper with in the compound file"
    fi
    if [ "$size" -ge "$cutoff" ]; then
        echo $(((start + 1) * ss + ss / 2))
        return
    fi
    # A small stream lives in 64-byte pieces of the mini stream, which is itself a chain of
    # sectors starting at the root entry's.
    m=$((start * mss + (size < mss ? size : mss) / 2))
    s=$root
    for ((k = m / ss; k > 0; k--)); do
        s=$(cfb_next "$f" "$ss" "$s")
    done
    echo $(((s + 1) * ss + m % ss))
}

flip_byte() {
    local b
    b=$(le "$1" "$2" 1)
    printf '%b' "\\0$(printf '%03o' $((b ^ 0xFF)))" | dd of="$1" bs=1 seek="$2" conv=notrunc status=none
}

work=""
staging=""
cleanup() {
    if [ -n "$staging" ]; then rm -rf -- "$staging"; fi
    if [ -n "$work" ]; then rm -rf -- "$work"; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
work=$(mktemp -d "${TMPDIR:-/tmp}/solvikvpn-sign.XXXXXX")
chmod 700 "$work"
log="$work/log"

sign_opts=(-h sha256 -n "Solvik VPN" -i https://solvikvpn.com)
verify_opts=()
cert=${SOLVIKVPN_SIGN_CERT:-}
key=${SOLVIKVPN_SIGN_KEY:-}
pkcs12=${SOLVIKVPN_SIGN_PKCS12:-}
if [ -n "$pkcs12" ]; then
    [ -z "$cert$key" ] || die "set SOLVIKVPN_SIGN_PKCS12 or SOLVIKVPN_SIGN_CERT and SOLVIKVPN_SIGN_KEY, not both"
    [ -r "$pkcs12" ] || die "cannot read SOLVIKVPN_SIGN_PKCS12 $pkcs12"
    sign_opts+=(-pkcs12 "$pkcs12")
elif [ -n "$cert$key" ]; then
    if [ -z "$cert" ] || [ -z "$key" ]; then
        die "SOLVIKVPN_SIGN_CERT and SOLVIKVPN_SIGN_KEY go together: set both"
    fi
    [ -r "$cert" ] || die "cannot read SOLVIKVPN_SIGN_CERT $cert"
    [ -r "$key" ] || die "cannot read SOLVIKVPN_SIGN_KEY $key"
    sign_opts+=(-certs "$cert" -key "$key")
fi

timestamped=yes
if [ -n "$pkcs12$cert" ]; then
    if [ -n "${SOLVIKVPN_SIGN_PASS_FILE:-}" ]; then
        [ -r "$SOLVIKVPN_SIGN_PASS_FILE" ] || die "cannot read SOLVIKVPN_SIGN_PASS_FILE $SOLVIKVPN_SIGN_PASS_FILE"
        sign_opts+=(-readpass "$SOLVIKVPN_SIGN_PASS_FILE")
    fi
    if [ -n "${SOLVIKVPN_SIGN_TIMESTAMP_URL:-}" ]; then
        sign_opts+=(-ts "$SOLVIKVPN_SIGN_TIMESTAMP_URL")
    else
        timestamped=""
        echo "sign-windows.sh: no SOLVIKVPN_SIGN_TIMESTAMP_URL, so the signatures end when the certificate expires" >&2
    fi
    if [ -n "${SOLVIKVPN_SIGN_CAFILE:-}" ]; then
        [ -r "$SOLVIKVPN_SIGN_CAFILE" ] || die "cannot read SOLVIKVPN_SIGN_CAFILE $SOLVIKVPN_SIGN_CAFILE"
        verify_opts+=(-CAfile "$SOLVIKVPN_SIGN_CAFILE")
    fi
else
    # A release setup missing its certificate must not quietly come out test-signed.
    for v in SOLVIKVPN_SIGN_PASS_FILE SOLVIKVPN_SIGN_TIMESTAMP_URL SOLVIKVPN_SIGN_CAFILE; do
        [ -z "${!v:-}" ] || die "$v is set but no certificate is: set SOLVIKVPN_SIGN_CERT and SOLVIKVPN_SIGN_KEY, or SOLVIKVPN_SIGN_PKCS12"
    done
    echo "-- signing with a throw-away test CA (no SOLVIKVPN_SIGN_CERT or SOLVIKVPN_SIGN_PKCS12)"
    pki="$work/pki"
    mkdir -m 700 "$pki" "$pki/issued"
    : >"$pki/index.txt"
    openssl rand -hex 16 >"$pki/serial"
    cat >"$pki/ca.cnf" <<EOF
[req]
distinguished_name = req_dn
[req_dn]
[ca]
default_ca = test_ca
[test_ca]
database = $pki/index.txt
new_certs_dir = $pki/issued
serial = $pki/serial
default_md = sha256
policy = names
unique_subject = no
[names]
organizationName = supplied
commonName = supplied
[root]
basicConstraints = critical, CA:TRUE
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[codesign]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = codeSigning
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
[timestamp]
basicConstraints = critical, CA:FALSE
keyUsage = critical, digitalSignature
extendedKeyUsage = critical, timeStamping
subjectKeyIdentifier = hash
authorityKeyIdentifier = keyid
EOF
    # Valid from a day ago, so that a clock a little behind does not see them as not yet valid.
    valid_from=$(date -u -d '1 day ago' +%Y%m%d%H%M%SZ)
    valid_to=$(date -u -d '4 days' +%Y%m%d%H%M%SZ)
    # Prints nothing unless openssl fails.
    issue() {
        local name=$1 cn=$2 extensions=$3
        shift 3
        if ! {
            openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$pki/$name.key" &&
                openssl req -new -config "$pki/ca.cnf" -key "$pki/$name.key" -out "$pki/$name.csr" \
                    -subj "/O=Solvik VPN (test only)/CN=$cn" &&
                openssl ca -batch -config "$pki/ca.cnf" -notext -startdate "$valid_from" -enddate "$valid_to" \
                    -extensions "$extensions" -in "$pki/$name.csr" -out "$pki/$name.pem" "$@"
        } >"$log" 2>&1; then
            cat "$log" >&2
            die "openssl could not make the test certificate $cn"
        fi
    }
    issue root "Solvik VPN Test Root CA" root -selfsign -keyfile "$pki/root.key"
    issue codesign "Solvik VPN Test Code Signing" codesign -cert "$pki/root.pem" -keyfile "$pki/root.key"
    issue timestamp "Solvik VPN Test Timestamping" timestamp -cert "$pki/root.pem" -keyfile "$pki/root.key"
    if [ -n "${SOLVIKVPN_SIGN_EXPORT_CA:-}" ]; then
        cp -- "$pki/root.pem" "$SOLVIKVPN_SIGN_EXPORT_CA" || die "cannot write SOLVIKVPN_SIGN_EXPORT_CA $SOLVIKVPN_SIGN_EXPORT_CA"
    fi
    sign_opts+=(-certs "$pki/codesign.pem" -key "$pki/codesign.key"
        -TSA-certs "$pki/timestamp.pem" -TSA-key "$pki/timestamp.key")
    verify_opts+=(-CAfile "$pki/root.pem" -TSA-CAfile "$pki/root.pem")
fi

# osslsigncode verify succeeds even when the timestamp's own signature does not verify, so a
# signature meant to carry a timestamp must also say that it verified.
verify() {
    osslsigncode verify "${verify_opts[@]}" -in "$1" </dev/null >"$log" 2>&1 || return 1
    [ -z "$timestamped" ] || grep -q '^Timestamp Server Signature verification: ok' "$log"
}

for f in "$@"; do
    target=$(readlink -f -- "$f")
    # osslsigncode will not write over an existing file, so the signed file goes into a private
    # folder beside the original: moving it over the original is then a rename on one filesystem.
    staging=$(mktemp -d "$(dirname -- "$target")/.sign.XXXXXX")
    signed="$staging/$(basename -- "$target")"
    if ! osslsigncode sign "${sign_opts[@]}" -in "$target" -out "$signed" </dev/null >"$log" 2>&1; then
        cat "$log" >&2
        die "osslsigncode could not sign $f"
    fi
    if ! verify "$signed"; then
        cat "$log" >&2
        die "the signature of $f does not verify"
    fi

    tampered="$work/tampered"
    cp -- "$signed" "$tampered"
    if [ "$(kind_of "$tampered")" = msi ]; then
        offset=$(msi_tamper_offset "$tampered")
    else
        offset=$(pe_tamper_offset "$tampered")
    fi
    flip_byte "$tampered" "$offset"
    if verify "$tampered"; then
        die "a copy of signed $f with the byte at offset $offset changed still verifies"
    fi
    # Refused for its digest, not because the change broke the file's structure.
    grep -q MISMATCH "$log" || die "a copy of signed $f with the byte at offset $offset changed was refused, but not for its digest"
    rm -f -- "$tampered"

    chmod --reference="$target" -- "$signed"
    mv -f -- "$signed" "$target"
    rmdir -- "$staging"
    staging=""
    echo "signed and verified: $f (tampered copy refused)"
done
