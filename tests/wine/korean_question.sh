#!/usr/bin/env bash
# On a Korean system the question is the Korean text in code page 949; the caption stays.
source "$(dirname "$0")/common.sh"

korean_text=$'BIOS Update 진행 중에는 절대 전원을 끄지 마십시오.\r\nBIOS Update 후 BIOS 설정이 초기화 됩니다.\r\nWindows7 OS를 설치할 경우 설정을 다음과 같이 변경해야 합니다.\r\n\r\n  1. BIOS Setup(F2) > Security\r\n  2. Secure Boot Configuration > Secure Boot Option : Off\r\n  3. Save & Exit'
korean_hex=$(printf '%s' "$korean_text" | iconv -f UTF-8 -t CP949 | to_hex)
report_file=$(mktemp)
trap 'rm -f "$report_file"; wine_locale default' EXIT

wine_locale ko_KR.UTF-8
start_program "$report_file"
if wait_question; then
  expect "Korean question text in code page 949 (267 bytes)" "$korean_hex" "$(question_hex)"
  answer_question "$IDNO"
else
  expect "Korean question under the caption \"$QUESTION_CAPTION\"" "shown" "not shown"
fi
wait_program
expect "Korean No exits 0" "0" "$(report_field exit "$(cat "$report_file")")"

finish
