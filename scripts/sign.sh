#!/usr/bin/env bash
# Signs executables with Authenticode: CERT (PEM certificate chain) and KEY (PEM private key)
# from the environment, TSA a timestamp server when one is reachable. Without a certificate it
# signs nothing and says so. Each file is replaced only once its signed copy is complete.
set -euo pipefail
if [ -z "${CERT:-}" ] || [ -z "${KEY:-}" ]; then
    echo "sign: no certificate given (make sign CERT=cert.pem KEY=key.pem): nothing signed"
    exit 0
fi
for exe in "$@"; do
    signed="$exe.signed"
    rm -f "$signed"
    osslsigncode sign -certs "$CERT" -key "$KEY" -h sha256 -n "Bundlo" \
        -i "https://www.bundlo.com/" ${TSA:+-ts "$TSA"} -in "$exe" -out "$signed" >/dev/null
    mv "$signed" "$exe"
    echo "sign: $exe signed"
done
