# The benchmarks' busy 1920 x 1080 desktop picture, $2 written on it, into the file $1. The
# text is drawn in a font of fonts-noto-core (scripts/install-deps.sh): ImageMagick's own
# default, Helvetica, is not on a fresh Debian machine.
desktop_picture() {
    convert -size 1920x1080 gradient:'#ff2000-#0040ff' -fill white \
        -draw 'rectangle 300,200 900,640' -font /usr/share/fonts/truetype/noto/NotoSans-Regular.ttf \
        -fill black -pointsize 40 -draw "text 1000,300 '$2'" "$1"
}
