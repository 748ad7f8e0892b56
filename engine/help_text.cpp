#include "engine/help_text.h"

#include "engine/tavrinM.h"

namespace tavrin {

namespace {

std::string text(const char8_t* utf8) {
    return reinterpret_cast<const char*>(utf8);
}

} // namespace

const char* const contactAddress = "support@tavrin.example.com";

void FillHelpText() {
    using tavrinM::HelpText;
    // clang-format off
    HelpText[1] = text(u8"ファイル名を変更する時に拡張子も変更してしまいます。　　　変更したい場合は、テキストボックスに入力してください。　　　　こちらも間違って変更するとファイルが開けなくなります。　　　　（例）***.txt　⇒　***.jpg");
    HelpText[2] = text(u8"変更ファイル名に追加される数を選択します。　　　　　　　　　　連番は０からファイル総数－１をファイルリスト順に付けます。　ランダムは０から９９９９までの乱数を付けます。　　　　　　　　通常は連番で良いと思います。（例）**０.txt **１.txt ・・・・　　　　　　　**４８７７.txt **７８２.txt　・・");
    HelpText[3] = text(u8"変更されたファイル名を元に戻します。　　　　　　　　　　　　　　ただし、前回された変更のみです。　　　　　　　　　　　　　　　　　この時、リストファイルの指定はいりません　ボタンを押すと勝手に復元します。　　　　　　　　　　変更処理ごとに自動バックアップをとっているからです。");
    HelpText[4] = text(u8"Tavrinを使っていただきありがとうございます。　　　　　　　　　　このソフトは拡張子指定型なので安心して使っていただけると思います。不具合があった場合はお手数ですが") + contactAddress + text(u8"　までご連絡ください。それでは最初にドライブを指定してください。");
    HelpText[5] = text(u8"変更したいファイルが入っているドライブ、フォルダーを指定してください。　　　　　　　　　　　　初めは全てのファイル名が表示されますが　その後　Getボタンを押すと拡張子の一覧が出ますので拡張子を選択してください。");
    HelpText[6] = text(u8"拡張子を選択してから変更後のファイル名を入力しStartボタンを押してください。");
    // clang-format on
}

} // namespace tavrin
