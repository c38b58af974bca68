# shellcheck shell=bash
# Why osslsigncode's verify refused a signature, in OpenSSL's words ("unable to get local issuer
# certificate", "certificate has expired", ...). The two osslsigncode builds seen on Debian 12
# word it differently:
#   2.9 (backport):  a line of its own, "<TAB>Error: unable to get local issuer certificate"
#   2.5 (Debian 12): OpenSSL's error queue, "...:PKCS7_verify:certificate verify error:
#                    ../crypto/pkcs7/pk7_smime.c:292:Verify error: unable to get local issuer certificate"
readonly VERIFIER_NO_REASON="the verifier gave no reason"

# Reads osslsigncode's output on standard input and prints the first reason found, or says in
# words that there was none.
verifier_reason() {
  local out reason
  out=$(cat)
  reason=$(sed -n -e 's/^.*:Verify error: *//p' <<<"$out" | head -n 1)
  [[ -n $reason ]] || reason=$(sed -n -e 's/^[[:space:]]*Error: *//p' <<<"$out" | head -n 1)
  echo "${reason:-$VERIFIER_NO_REASON}"
}
