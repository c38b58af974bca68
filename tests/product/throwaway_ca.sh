# shellcheck shell=bash
# A throwaway CA, a code-signing certificate it issued (subject THROWAWAY_SIGNER) and an
# unrelated second CA, for the checks that sign and verify.
readonly THROWAWAY_SIGNER="/CN=Throwaway signer"
make_throwaway_cas() {  # make_throwaway_cas DIR: ca.pem, other-ca.pem, signer.pem and their keys
  local dir=$1 days=2 key=rsa:2048 name
  for name in ca other-ca; do
    openssl req -x509 -newkey "$key" -nodes -days "$days" -subj "/CN=Throwaway $name" \
      -keyout "$dir/$name.key" -out "$dir/$name.pem" -addext "basicConstraints=critical,CA:TRUE" \
      -addext "keyUsage=critical,keyCertSign" 2>/dev/null || return
  done
  openssl req -newkey "$key" -nodes -subj "$THROWAWAY_SIGNER" \
    -keyout "$dir/signer.key" -out "$dir/signer.csr" 2>/dev/null &&
  printf '%s\n' basicConstraints=CA:FALSE keyUsage=critical,digitalSignature \
    extendedKeyUsage=codeSigning >"$dir/signer.ext" &&
  openssl x509 -req -in "$dir/signer.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" \
    -CAcreateserial -days "$days" -extfile "$dir/signer.ext" -out "$dir/signer.pem" 2>/dev/null
}
