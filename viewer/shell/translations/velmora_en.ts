<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English for every locale but Japanese. The sources are the texts as the program
     writes them: its Japanese menus (some items in English there too). -->
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Velmora</name>
    <message>
        <source>Open File...</source>
        <translation>Open File...</translation>
    </message>
    <message>
        <source>Open Directory...</source>
        <translation>Open Directory...</translation>
    </message>
    <message>
        <source>Open Next Archive File</source>
        <translation>Open Next Archive File</translation>
    </message>
    <message>
        <source>Open Previous Archive File</source>
        <translation>Open Previous Archive File</translation>
    </message>
    <message>
        <source>Go to Page...</source>
        <translation>Go to Page...</translation>
    </message>
    <message>
        <source>History</source>
        <translation>History</translation>
    </message>
    <message>
        <source>Empty</source>
        <translation>Empty</translation>
    </message>
    <message>
        <source>Show</source>
        <translation>Show</translation>
    </message>
    <message>
        <source>1枚</source>
        <translation>Single Page</translation>
    </message>
    <message>
        <source>見開き 右開き</source>
        <translation>Two Pages, Opening to the Right</translation>
    </message>
    <message>
        <source>見開き 左開き</source>
        <translation>Two Pages, Opening to the Left</translation>
    </message>
    <message>
        <source>見開きを 1 ページずらす</source>
        <translation>Shift the Pairs by One Page</translation>
    </message>
    <message>
        <source>この本の設定を既定に戻す</source>
        <translation>Reset This Book to the Defaults</translation>
    </message>
    <message>
        <source>次の巻はありません</source>
        <translation>No next volume</translation>
    </message>
    <message>
        <source>前の巻はありません</source>
        <translation>No previous volume</translation>
    </message>
    <message>
        <source>見開きの組を 1 ページずらす (この本だけ)</source>
        <translation>Shift the pairs by one page (this book only)</translation>
    </message>
    <message>
        <source>モノクロ画像のカラー化</source>
        <translation>Colorize Monochrome Pages</translation>
    </message>
    <message>
        <source>全画面でページ番号を表示</source>
        <translation>Page Number in Full Screen</translation>
    </message>
    <message>
        <source>ページ番号を表示</source>
        <translation>Show the page number</translation>
    </message>
    <message>
        <source>P</source>
        <translation>P</translation>
    </message>
    <message>
        <source>表紙を単独で表示</source>
        <translation>Cover Alone</translation>
    </message>
    <message>
        <source>画像の向き (Exif) に従う</source>
        <translation>Turn Pages as Exif Says</translation>
    </message>
    <message>
        <source>名前の数字を数として並べる</source>
        <translation>Natural Order (2 before 10)</translation>
    </message>
    <message>
        <source>前回のページから開く</source>
        <translation>Open Books Where I Left Off</translation>
    </message>
    <message>
        <source>次の巻へ続けて読む</source>
        <translation>Read On into the Next Volume</translation>
    </message>
    <message>
        <source>Window/Full Screen</source>
        <translation>Window/Full Screen</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manual</translation>
    </message>
    <message>
        <source>Keys and Mouse</source>
        <translation>Keys and Mouse</translation>
    </message>
    <message>
        <source>About</source>
        <translation>About</translation>
    </message>
    <message>
        <source>Exit</source>
        <translation>Exit</translation>
    </message>
    <message>
        <source>初期化に失敗！</source>
        <translation>Initialization failed!</translation>
    </message>
    <message>
        <source>ページへ移動</source>
        <translation>Go to Page</translation>
    </message>
    <message>
        <source>ページ (1 - %1):</source>
        <translation>Page (1 - %1):</translation>
    </message>
    <message>
        <source>ファイルまたはフォルダーが見つかりません。</source>
        <translation>The file or folder was not found.</translation>
    </message>
    <message>
        <source>読み取る権限がありません。</source>
        <translation>You have no permission to read it.</translation>
    </message>
    <message>
        <source>画像でもアーカイブでもありません。</source>
        <translation>This is neither an image nor an archive.</translation>
    </message>
    <message>
        <source>パスワードが必要なアーカイブです。</source>
        <translation>This archive needs a password.</translation>
    </message>
    <message>
        <source>アーカイブまたはページが壊れています。</source>
        <translation>The archive or page is damaged.</translation>
    </message>
    <message>
        <source>読めない圧縮形式です。</source>
        <translation>This compression cannot be read here.</translation>
    </message>
    <message>
        <source>このページは壊れています: </source>
        <translation>This page is damaged: </translation>
    </message>
    <message>
        <source>壊れています: 一部のページを読めませんでした</source>
        <translation>damaged: some pages could not be read</translation>
    </message>
    <message>
        <source>大きすぎて読めないページです。</source>
        <translation>This page is too large to read.</translation>
    </message>
    <message>
        <source>7-Zip のライブラリ (7z.so) が見つからないため開けません。</source>
        <translation>7-Zip's library (7z.so) is not found; without it this cannot be opened.</translation>
    </message>
    <message>
        <source>7-Zip のライブラリ (7z.so) に互換性がないため開けません。</source>
        <translation>7-Zip's library (7z.so) here is refused as unfit; without it this cannot be opened.</translation>
    </message>
    <message>
        <source>画像が入っていません。</source>
        <translation>There is no image in this book.</translation>
    </message>
    <message>
        <source>パスワード</source>
        <translation>Password</translation>
    </message>
    <message>
        <source>「%1」のパスワードを入力してください:</source>
        <translation>Enter the password of “%1”:</translation>
    </message>
    <message>
        <source>パスワードが違います。</source>
        <translation>The password is wrong.</translation>
    </message>
    <message>
        <source>← →</source>
        <translation>← →</translation>
    </message>
    <message>
        <source>ページをめくる (開きの向きに合わせて)</source>
        <translation>Turn a page (the way the book opens)</translation>
    </message>
    <message>
        <source>↑ ↓  PageUp PageDown</source>
        <translation>↑ ↓  Page Up  Page Down</translation>
    </message>
    <message>
        <source>見開き単位で戻る・進む</source>
        <translation>A spread back / forward</translation>
    </message>
    <message>
        <source>Space  BackSpace</source>
        <translation>Space  Backspace</translation>
    </message>
    <message>
        <source>見開き単位で進む・戻る</source>
        <translation>A spread forward / back</translation>
    </message>
    <message>
        <source>Home  End</source>
        <translation>Home  End</translation>
    </message>
    <message>
        <source>最初・最後のページ</source>
        <translation>First / last page</translation>
    </message>
    <message>
        <source>Ctrl+G</source>
        <translation>Ctrl+G</translation>
    </message>
    <message>
        <source>ページを指定して移動</source>
        <translation>Go to a page</translation>
    </message>
    <message>
        <source>N  Shift+N</source>
        <translation>N  Shift+N</translation>
    </message>
    <message>
        <source>次・前のアーカイブ</source>
        <translation>Next / previous archive</translation>
    </message>
    <message>
        <source>Enter  F11</source>
        <translation>Enter  F11</translation>
    </message>
    <message>
        <source>全画面表示の切り替え</source>
        <translation>Full screen on / off</translation>
    </message>
    <message>
        <source>Esc</source>
        <translation>Esc</translation>
    </message>
    <message>
        <source>全画面表示を終える</source>
        <translation>Leave full screen</translation>
    </message>
    <message>
        <source>L  中ボタン</source>
        <translation>L  Middle button</translation>
    </message>
    <message>
        <source>ルーペ</source>
        <translation>Loupe</translation>
    </message>
    <message>
        <source>ホイール</source>
        <translation>Wheel</translation>
    </message>
    <message>
        <source>左クリック (左・右の 3 分の 1)</source>
        <translation>Left click (left or right third)</translation>
    </message>
    <message>
        <source>ページをめくる</source>
        <translation>Turn a page</translation>
    </message>
    <message>
        <source>右クリック  Menu  Shift+F10</source>
        <translation>Right click  Menu  Shift+F10</translation>
    </message>
    <message>
        <source>メニュー</source>
        <translation>Menu</translation>
    </message>
    <message>
        <source>Ctrl+O  Ctrl+Shift+O</source>
        <translation>Ctrl+O  Ctrl+Shift+O</translation>
    </message>
    <message>
        <source>ファイル・フォルダーを開く</source>
        <translation>Open a file / a folder</translation>
    </message>
    <message>
        <source>ドロップ</source>
        <translation>Drop</translation>
    </message>
    <message>
        <source>ファイルかフォルダーを開く</source>
        <translation>Open a file or folder</translation>
    </message>
    <message>
        <source>Q  Ctrl+Q  Ctrl+W</source>
        <translation>Q  Ctrl+Q  Ctrl+W</translation>
    </message>
    <message>
        <source>終了</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>F1  ?</source>
        <translation>F1  ?</translation>
    </message>
    <message>
        <source>このヘルプ</source>
        <translation>This help</translation>
    </message>
    <message>
        <source>全体を表示</source>
        <translation>Best Fit</translation>
    </message>
    <message>
        <source>全体・幅・高さ・原寸に合わせる</source>
        <translation>best fit, fit width, fit height, original size</translation>
    </message>
    <message>
        <source>幅に合わせる</source>
        <translation>Fit Width</translation>
    </message>
    <message>
        <source>高さに合わせる</source>
        <translation>Fit Height</translation>
    </message>
    <message>
        <source>原寸大</source>
        <translation>Original Size</translation>
    </message>
    <message>
        <source>拡大</source>
        <translation>Zoom In</translation>
    </message>
    <message>
        <source>+  -  0  Ctrl+ホイール</source>
        <translation>+  -  0  Ctrl+wheel</translation>
    </message>
    <message>
        <source>拡大・縮小・全体に戻す</source>
        <translation>zoom in, zoom out, back to best fit</translation>
    </message>
    <message>
        <source>縮小</source>
        <translation>Zoom Out</translation>
    </message>
    <message>
        <source>ドラッグ</source>
        <translation>drag</translation>
    </message>
    <message>
        <source>窓より大きなページを動かす</source>
        <translation>move pages larger than the window</translation>
    </message>
    <message>
        <source>本の情報</source>
        <translation>Book Information</translation>
    </message>
    <message>
        <source>I</source>
        <translation>I</translation>
    </message>
    <message>
        <source>本の情報 (シリーズ・題名・作者・あらすじ)</source>
        <translation>The book's own description (series, title, writer, summary)</translation>
    </message>
    <message>
        <source>シリーズ</source>
        <translation>Series</translation>
    </message>
    <message>
        <source>番号</source>
        <translation>Number</translation>
    </message>
    <message>
        <source>巻</source>
        <translation>Volume</translation>
    </message>
    <message>
        <source>題名</source>
        <translation>Title</translation>
    </message>
    <message>
        <source>作者</source>
        <translation>Writer</translation>
    </message>
    <message>
        <source>あらすじ</source>
        <translation>Summary</translation>
    </message>
    <message>
        <source>連続スクロール</source>
        <translation>Continuous Scroll</translation>
    </message>
    <message>
        <source>ページを縦につなげてスクロール</source>
        <translation>scroll the pages joined in one column</translation>
    </message>
    <message>
        <source>ページ一覧…</source>
        <translation>Pages…</translation>
    </message>
    <message>
        <source>全ページを縮小して並べる (Enter・クリックで開く)</source>
        <translation>every page as a thumbnail (Enter or a click opens one)</translation>
    </message>
    <message>
        <source>カタログ</source>
        <translation>Catalogues</translation>
    </message>
    <message>
        <source>追加…</source>
        <translation>Add…</translation>
    </message>
    <message>
        <source>編集…</source>
        <translation>Edit…</translation>
    </message>
    <message>
        <source>削除</source>
        <translation>Remove</translation>
    </message>
    <message>
        <source>開く</source>
        <translation>Open</translation>
    </message>
    <message>
        <source>閉じる</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>カタログの追加</source>
        <translation>Add a Catalogue</translation>
    </message>
    <message>
        <source>カタログの編集</source>
        <translation>Edit the Catalogue</translation>
    </message>
    <message>
        <source>名前</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>ユーザー名</source>
        <translation>User name</translation>
    </message>
    <message>
        <source>このカタログを削除しますか?</source>
        <translation>Remove this catalogue?</translation>
    </message>
    <message>
        <source>名前を入力してください。</source>
        <translation>Enter a name.</translation>
    </message>
    <message>
        <source>名前が長すぎます。</source>
        <translation>The name is too long.</translation>
    </message>
    <message>
        <source>同じ名前のカタログがあります。</source>
        <translation>A catalogue of that name is kept already.</translation>
    </message>
    <message>
        <source>URL を入力してください。</source>
        <translation>Enter the URL.</translation>
    </message>
    <message>
        <source>http:// か https:// で始まる URL を入力してください。</source>
        <translation>Enter a URL that starts with http:// or https://.</translation>
    </message>
    <message>
        <source>URL にはユーザー名やパスワードを入れないでください。</source>
        <translation>Leave the user name and password out of the URL.</translation>
    </message>
    <message>
        <source>ユーザー名が長すぎます。</source>
        <translation>The user name is too long.</translation>
    </message>
    <message>
        <source>タブや改行は使えません。</source>
        <translation>Tabs and line breaks cannot be used.</translation>
    </message>
    <message>
        <source>パスワードを保存できませんでした: </source>
        <translation>The password could not be kept: </translation>
    </message>
    <message>
        <source>パスワードを読めませんでした: </source>
        <translation>The password could not be read: </translation>
    </message>
    <message>
        <source>カタログの閲覧はまだできません</source>
        <translation>catalogues cannot be browsed yet</translation>
    </message>
    <message>
        <source>カタログ閲覧</source>
        <translation>Catalogue</translation>
    </message>
    <message>
        <source>戻る</source>
        <translation>Back</translation>
    </message>
    <message>
        <source>上へ</source>
        <translation>Up</translation>
    </message>
    <message>
        <source>トップ</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>前のページ</source>
        <translation>Previous page</translation>
    </message>
    <message>
        <source>次のページ</source>
        <translation>Next page</translation>
    </message>
    <message>
        <source>検索</source>
        <translation>Search</translation>
    </message>
    <message>
        <source>再試行</source>
        <translation>Retry</translation>
    </message>
    <message>
        <source>キャンセル</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>読み込み中…</source>
        <translation>Loading…</translation>
    </message>
    <message>
        <source>「%1」をダウンロード中</source>
        <translation>Downloading “%1”</translation>
    </message>
    <message>
        <source>このカタログには何もありません。</source>
        <translation>This catalogue has nothing here.</translation>
    </message>
    <message>
        <source>このカタログにはユーザー名とパスワードが必要です (401)。</source>
        <translation>The catalogue asks for a user name and password (401).</translation>
    </message>
    <message>
        <source>ユーザー名またはパスワードが拒否されました (401)。</source>
        <translation>The user name or password was refused (401).</translation>
    </message>
    <message>
        <source>転送先の別のサーバーがユーザー名とパスワードを求めています (401)。カタログのものは送りません。</source>
        <translation>A server elsewhere asks for a user name and password (401); the catalogue's are not sent there.</translation>
    </message>
    <message>
        <source>サーバーがアクセスを拒否しました (403)。</source>
        <translation>The server refused access (403).</translation>
    </message>
    <message>
        <source>このアドレスにカタログはありません (404)。</source>
        <translation>There is no catalogue at this address (404).</translation>
    </message>
    <message>
        <source>サーバーがエラーを返しました: </source>
        <translation>The server answered with an error: </translation>
    </message>
    <message>
        <source>http または https のアドレスではありません。</source>
        <translation>Not an http or https address.</translation>
    </message>
    <message>
        <source>安全な接続に失敗しました: </source>
        <translation>The secure connection failed: </translation>
    </message>
    <message>
        <source>サーバーの応答が遅すぎます: </source>
        <translation>The server took too long: </translation>
    </message>
    <message>
        <source>フィードが大きすぎます: </source>
        <translation>The feed is too large: </translation>
    </message>
    <message>
        <source>サーバーの転送に従いませんでした: </source>
        <translation>The server's redirect was not followed: </translation>
    </message>
    <message>
        <source>サーバーに接続できませんでした: </source>
        <translation>The server could not be reached: </translation>
    </message>
    <message>
        <source>このアドレスはカタログのフィードではなくウェブページです。</source>
        <translation>The address gives a web page, not a catalogue feed.</translation>
    </message>
    <message>
        <source>カタログのフィードではありません: </source>
        <translation>Not a catalogue feed: </translation>
    </message>
    <message>
        <source>サーバーがユーザー名とパスワードを求めています (401)。</source>
        <translation>The server asks for a user name and password (401).</translation>
    </message>
    <message>
        <source>本をキャッシュフォルダーに保存できませんでした。</source>
        <translation>The book could not be written to the cache folder.</translation>
    </message>
    <message>
        <source>本が大きすぎます: </source>
        <translation>The book is too large: </translation>
    </message>
    <message>
        <source>本をダウンロードできませんでした: </source>
        <translation>The book could not be downloaded: </translation>
    </message>
    <message>
        <source>サーバーが本ではなくウェブページを返しました。</source>
        <translation>The server gave a web page, not the book.</translation>
    </message>
</context>
</TS>
