<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ja_JP">
<context>
    <name>FilePickerDialog</name>
    <message>
        <source>A folder with this name already exists</source>
        <translation>同じ名前のフォルダが既に存在します</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Cannot create folder here</source>
        <translation>ここにはフォルダを作成できません</translation>
    </message>
    <message>
        <source>Cannot open folder: </source>
        <translation>フォルダを開けません：</translation>
    </message>
    <message>
        <source>Empty folder</source>
        <translation>空のフォルダ</translation>
    </message>
    <message>
        <source>Enter a file name</source>
        <translation>ファイル名を入力してください</translation>
    </message>
    <message>
        <source>File name:</source>
        <translation>ファイル名：</translation>
    </message>
    <message>
        <source>Invalid folder name</source>
        <translation>無効なフォルダ名です</translation>
    </message>
    <message>
        <source>New Folder</source>
        <translation>新しいフォルダ</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Save to: </source>
        <translation>保存先：</translation>
    </message>
    <message>
        <source>Select a file</source>
        <translation>ファイルを選択してください</translation>
    </message>
    <message>
        <source>Selected: </source>
        <translation>選択中：</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上へ</translation>
    </message>
    <message>
        <source>Replace file?</source>
        <translation>ファイルを置き換えますか？</translation>
    </message>
    <message>
        <source>%1 already exists. Saving replaces it.</source>
        <translation>%1 は既に存在します。保存すると置き換えられます。</translation>
    </message>
</context>
<context>
    <name>HeaderBar</name>
    <message>
        <source>Language</source>
        <translation>言語</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>テーマ</translation>
    </message>
</context>
<context>
    <name>ImageSummary</name>
    <message>
        <source>A run would refuse this file: %1</source>
        <translation>アップグレードはこのファイルを受け付けません：%1</translation>
    </message>
    <message>
        <source>%1 bytes plain  ·  CRC-32 %2  ·  %3 frames</source>
        <translation>平文 %1 バイト  ·  CRC-32 %2  ·  %3 フレーム</translation>
    </message>
    <message>
        <source>at least %1 s at %2 baud</source>
        <translation>%2 ボーで最短 %1 秒</translation>
    </message>
</context>
<context>
    <name>LogCard</name>
    <message>
        <source>Save Log</source>
        <translation>ログを保存</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>進捗</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Last upgrade OK</source>
        <translation>前回のアップグレード成功</translation>
    </message>
    <message>
        <source>Last upgrade failed</source>
        <translation>前回のアップグレード失敗</translation>
    </message>
    <message>
        <source>No warm boot</source>
        <translation>ウォームブートなし</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>準備完了</translation>
    </message>
    <message>
        <source>Select Firmware Image</source>
        <translation>ファームウェアイメージを選択</translation>
    </message>
    <message>
        <source>UART Serial (APP1)</source>
        <translation>UART シリアル (APP1)</translation>
    </message>
    <message>
        <source>UDP Network (100M)</source>
        <translation>UDP ネットワーク (100M)</translation>
    </message>
    <message>
        <source>Upgrading</source>
        <translation>アップグレード中</translation>
    </message>
    <message>
        <source>Warm boot to APP1</source>
        <translation>APP1 へウォームブート</translation>
    </message>
    <message>
        <source>Warm boot to APP2</source>
        <translation>APP2 へウォームブート</translation>
    </message>
    <message>
        <source>Log saved to %1</source>
        <translation>ログを %1 に保存しました</translation>
    </message>
    <message>
        <source>Save Log</source>
        <translation>ログを保存</translation>
    </message>
    <message>
        <source>TRANSPORT</source>
        <translation>通信方式</translation>
    </message>
    <message>
        <source>SERIAL</source>
        <translation>シリアル</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>更新</translation>
    </message>
    <message>
        <source>BAUD RATE</source>
        <translation>ボーレート</translation>
    </message>
    <message>
        <source>BOARD IP</source>
        <translation>ボード IP</translation>
    </message>
    <message>
        <source>BOARD PORT</source>
        <translation>ボードポート</translation>
    </message>
    <message>
        <source>HOST ADAPTER</source>
        <translation>ホストアダプタ</translation>
    </message>
    <message>
        <source>Detect</source>
        <translation>検出</translation>
    </message>
    <message>
        <source>HOST PORT</source>
        <translation>ホストポート</translation>
    </message>
    <message>
        <source>FIRMWARE IMAGE</source>
        <translation>ファームウェアイメージ</translation>
    </message>
    <message>
        <source>Select encrypted image (.qvbit)...</source>
        <translation>暗号化イメージ（.qvbit）を選択...</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>参照</translation>
    </message>
    <message>
        <source>OPTIONS</source>
        <translation>オプション</translation>
    </message>
    <message>
        <source>Upgrading...</source>
        <translation>アップグレード中...</translation>
    </message>
    <message>
        <source>Start Upgrade</source>
        <translation>アップグレード開始</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched</source>
        <translation>PGL25G ファームウェア更新 · スロット APP2 @0x400000 へ書込 · Golden/APP1 は変更なし</translation>
    </message>
    <message>
        <source>UPGRADE LOG</source>
        <translation>アップグレードログ</translation>
    </message>
    <message>
        <source>Clear Log</source>
        <translation>ログをクリア</translation>
    </message>
    <message>
        <source>%1 (not found)</source>
        <extracomment>A chosen serial port that is not plugged in at the moment; %1 is the port as listed.</extracomment>
        <translation>%1（見つかりません）</translation>
    </message>
</context>
<context>
    <name>Theme</name>
    <message>
        <source>Abyss Black</source>
        <translation>アビスブラック</translation>
    </message>
    <message>
        <source>Carbon Amber</source>
        <translation>カーボンアンバー</translation>
    </message>
    <message>
        <source>Deep Blue</source>
        <translation>ディープブルー</translation>
    </message>
    <message>
        <source>Graphite Gray</source>
        <translation>グラファイトグレー</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>ライト</translation>
    </message>
    <message>
        <source>Medical</source>
        <translation>メディカル</translation>
    </message>
    <message>
        <source>Midnight Teal</source>
        <translation>ミッドナイトティール</translation>
    </message>
    <message>
        <source>Mist Cyan</source>
        <translation>ミストシアン</translation>
    </message>
    <message>
        <source>Slate Copper</source>
        <translation>スレートカッパー</translation>
    </message>
</context>
<context>
    <name>ThemedDialog</name>
    <message>
        <source>Cancel</source>
        <translation>キャンセル</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>閉じる</translation>
    </message>
    <message>
        <source>No</source>
        <translation>いいえ</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>はい</translation>
    </message>
</context>
</TS>
