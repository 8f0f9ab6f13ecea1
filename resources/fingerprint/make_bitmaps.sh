#!/usr/bin/env bash
# Draws the fingerprint screens' bitmaps with ImageMagick (and the Nanum
# fonts) at their sizes and colour depths. Run it from anywhere; it writes
# the .bmp files beside itself. The ids are those of resources/fingerprint.rc.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
FONT=/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf
FONT_R=/usr/share/fonts/truetype/nanum/NanumGothic.ttf
SKIN='#f3cfb3'; SKIN_EDGE='#c99878'; NAVY='#1d3f72'; TEAL='#2b8fbf'

# 8-bit (palette) and 24-bit BMP; the last argument is the file.
eight() { local out="${@: -1}"; convert "${@:1:$#-1}" -type Palette -colors 255 -compress none BMP3:"$out"; }
true24() { local out="${@: -1}"; convert "${@:1:$#-1}" -type TrueColor -compress none BMP3:"$out"; }

# One open hand: palm centre, then the five fingertips (thumb first).
hand() {  # cx cy tip... -> draw arguments
    local cx=$1 cy=$2; shift 2
    local out=(-stroke "$SKIN_EDGE" -strokewidth 21 -draw "stroke-linecap round")
    local tips=("$@")
    for tip in "${tips[@]}"; do
        local x=${tip%,*} y=${tip#*,}
        out+=(-draw "stroke-linecap round line $cx,$cy $x,$y")
    done
    out+=(-stroke "$SKIN" -strokewidth 17)
    for tip in "${tips[@]}"; do
        local x=${tip%,*} y=${tip#*,}
        out+=(-draw "stroke-linecap round line $cx,$cy $x,$y")
    done
    out+=(-stroke "$SKIN_EDGE" -strokewidth 2 -fill "$SKIN" -draw "ellipse $cx,$((cy+8)) 38,40 0,360")
    printf '%s\0' "${out[@]}"
}
title() {  # page title band
    printf '%s\0' -fill "$NAVY" -draw "rectangle 0,0 335,30" -font "$FONT" -pointsize 15 -fill white \
        -annotate +12+21 "$1"
}

# 330: step 1, two open hands; the finger marks sit on the fingertips.
mapfile -d '' L < <(hand 88 178 157,146 115,85 83,75 57,83 32,107)
mapfile -d '' R < <(hand 247 174 184,143 218,80 250,70 276,78 301,100)
mapfile -d '' T < <(title "1단계 : 손가락 선택")
eight -size 336x302 xc:white "${T[@]}" "${L[@]}" "${R[@]}" -stroke none \
    -font "$FONT_R" -pointsize 12 -fill '#333333' -annotate +70+262 "등록할 손가락을 그림에서 선택하세요." \
    -fill '#888888' -pointsize 11 -annotate +62+240 "왼손" -annotate +236+240 "오른손" bmp330.bmp

# 323: step 2, two image boxes and room for the scanning hand.
mapfile -d '' T < <(title "2단계 : 지문 입력")
eight -size 336x302 xc:white "${T[@]}" \
    -stroke '#9aa8b8' -strokewidth 1 -fill '#f4f6f9' -draw "rectangle 28,52 110,146" -draw "rectangle 28,171 110,264" \
    -stroke none -fill "$NAVY" -font "$FONT" -pointsize 12 -annotate +30+48 "등록 지문" -annotate +30+167 "확인 지문" \
    -font "$FONT_R" -fill '#333333' -pointsize 12 -annotate +132+60 "지문 입력기에 손가락을" -annotate +132+78 "올려 주세요." \
    bmp323.bmp

# 328: step 3, success.
mapfile -d '' L < <(hand 88 188 157,156 115,95 83,85 57,93 32,117)
mapfile -d '' R < <(hand 247 184 184,153 218,90 250,80 276,88 301,110)
mapfile -d '' T < <(title "3단계 : 등록 완료")
eight -size 336x302 xc:white "${T[@]}" \
    -font "$FONT" -pointsize 14 -fill "$TEAL" -annotate +60+58 "지문 등록이 완료되었습니다." "${L[@]}" "${R[@]}" \
    -font "$FONT_R" -pointsize 12 -fill '#333333' -stroke none -annotate +80+282 "완료 버튼을 눌러 주세요." bmp328.bmp

# 321, 322: a finger on the scanner, the scanner's light off and on.
scanner() {  # glow colour, output
    eight -size 160x115 xc:white \
        -fill '#3b4656' -draw "roundrectangle 20,60 140,108 10,10" \
        -fill "$1" -draw "roundrectangle 50,66 110,84 4,4" \
        -fill '#6d7a8c' -draw "rectangle 30,96 130,100" \
        -stroke "$SKIN_EDGE" -strokewidth 24 -draw "stroke-linecap round line 80,76 80,12" \
        -stroke "$SKIN" -strokewidth 20 -draw "stroke-linecap round line 80,76 80,12" \
        -stroke '#e7b9a0' -strokewidth 1 -fill none -draw "ellipse 80,70 6,5 180,360" "$2"
}
scanner '#2a3440' bmp321.bmp
scanner '#49e07a' bmp322.bmp

# 329: the mark laid over a scanned image (inverted, then OR'ed on).
true24 -size 91x38 xc:white -stroke '#d03010' -strokewidth 3 -fill none -draw "roundrectangle 3,3 87,34 6,6" \
    -stroke none -fill '#d03010' -font "$FONT" -pointsize 16 -annotate +22+26 "SCAN" bmp329.bmp

# Buttons, 60 x 25: normal, pressed, hover.
button() {  # top colour, bottom colour, text colour, label, shift, output
    eight -size 60x25 gradient:"$1"-"$2" -stroke '#34506f' -fill none -draw "roundrectangle 0,0 59,24 5,5" \
        -stroke none -fill "$3" -font "$FONT" -pointsize 12 -annotate +$((18 + $5))+$((17 + $5)) "$4" "$6"
}
button '#ffffff' '#c9d6e6' "$NAVY" "취소" 0 bmp315.bmp
button '#a9bcd4' '#e9eef5' "$NAVY" "취소" 1 bmp313.bmp
button '#ffffff' '#9fd0ef' '#0b4f8a' "취소" 0 bmp316.bmp
button '#ffffff' '#c9d6e6' "$NAVY" "완료" 0 bmp318.bmp
button '#a9bcd4' '#e9eef5' "$NAVY" "완료" 1 bmp317.bmp
button '#ffffff' '#9fd0ef' '#0b4f8a' "완료" 0 bmp320.bmp

# Finger marks, 11 x 11: registered (pink), free (light and darker blue).
# (drawn large and scaled down: shaded like a lit bead)
dot() {
    eight -size 44x44 radial-gradient:white-"$1" -gravity center \
        \( -size 44x44 xc:black -fill white -draw "circle 22,22 22,3" \) -alpha off -compose CopyOpacity -composite \
        -background "$SKIN" -compose Over -flatten -fill none -stroke "$2" -strokewidth 3 -draw "circle 22,22 22,4" \
        -resize 11x11 "$3"
}
dot '#f06aa0' '#b0306a' bmp335.bmp
dot '#8fd0ff' '#2b78c0' bmp336.bmp
dot '#3a8fe0' '#15508f' bmp337.bmp

# 331: the registration screen's background, 380 x 451.
true24 -size 380x451 gradient:'#e9eff6'-'#c5d3e3' \
    -fill "$NAVY" -draw "rectangle 0,0 379,24" -font "$FONT" -pointsize 13 -fill white -annotate +12+17 "감면자 지문 등록" \
    -fill '#ffffff' -stroke '#8ea3bb' -draw "rectangle 19,28 360,336" \
    -stroke none -fill '#5b6f88' -font "$FONT_R" -pointsize 11 -annotate +22+358 "Wendra 지문 인식기" bmp331.bmp

# 338: the verification screen, 235 x 284: the scanner and its line.
eight -size 235x284 gradient:'#eef3f8'-'#c8d6e5' \
    -fill "$NAVY" -draw "rectangle 0,0 234,26" -font "$FONT" -pointsize 13 -fill white -annotate +10+18 "감면자 본인 확인" \
    -fill '#3b4656' -draw "roundrectangle 47,70 187,160 14,14" -fill '#49e07a' -draw "roundrectangle 77,82 157,112 5,5" \
    -fill '#6d7a8c' -draw "rectangle 60,146 174,152" \
    -stroke "$SKIN_EDGE" -strokewidth 26 -draw "stroke-linecap round line 117,98 117,36" \
    -stroke "$SKIN" -strokewidth 22 -draw "stroke-linecap round line 117,98 117,36" -stroke none \
    -font "$FONT" -pointsize 14 -fill "$NAVY" -annotate +58+184 "지문 입력 받는 중" bmp338.bmp
