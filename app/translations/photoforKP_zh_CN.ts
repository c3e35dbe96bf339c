<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>CommandLine</name>
    <message>
        <source>--archive-url: not an http or https address: %1</source>
        <translation>--archive-url：不是 http 或 https 地址：%1</translation>
    </message>
    <message>
        <source>--archive-date: not a date as YYYY[MM[DD[hh[mm[ss]]]]]: %1</source>
        <translation>--archive-date：不是 YYYY[MM[DD[hh[mm[ss]]]]] 格式的日期：%1</translation>
    </message>
    <message>
        <source>%1: the name must end in .wacz: %2</source>
        <translation>%1：文件名必须以 .wacz 结尾：%2</translation>
    </message>
    <message>
        <source>--save-copy and --save-catalogue keep what the archive on the network gives; they do not go with --archive-file</source>
        <translation>--save-copy 和 --save-catalogue 保存的是网络上的网页存档给出的内容，不能与 --archive-file 一起使用</translation>
    </message>
    <message>
        <source>--save-copy and --save-catalogue: one copy at a time</source>
        <translation>--save-copy 和 --save-catalogue：一次只能保存一个副本</translation>
    </message>
    <message>
        <source>--save-copy: cannot keep a copy in %1: %2</source>
        <translation>--save-copy：无法在 %1 中保存副本：%2</translation>
    </message>
    <message>
        <source>not a usable archive file: %1: %2</source>
        <translation>这不是可用的存档文件：%1：%2</translation>
    </message>
    <message>
        <source>the copy %1 keeps nothing more: %2; what it kept so far stays</source>
        <translation>存档副本 %1 无法继续写入：%2；已写入的记录仍然保留</translation>
    </message>
    <message>
        <source>the copy %1 could not be made (%2); what was kept stays in %3, and the next run with --save-copy=%1 completes it</source>
        <translation>无法生成存档副本 %1（%2）；已保存的记录仍在 %3 中，下次以 --save-copy=%1 运行时会补全</translation>
    </message>
    <message>
        <source>unknown option: %1 (see --help)</source>
        <translation>未知选项：%1（请看 --help）</translation>
    </message>
    <message>
        <source>Usage: photoforKP [OPTION]...
Browse the catalogues of the Ostavel pet community site.

  --archive                 open every link from a web archive, not the site
  --archive-url=PREFIX      the archive (Wayback-style), default %1
  --archive-date=YYYY[MM[DD[hh[mm[ss]]]]]
                            prefer the captures nearest this date (UTC)
  --archive-file[=FILE]     open every link from web-archive files (.wacz,
                            .warc.gz, .warc; may be given more than once),
                            with no network; without FILE, ask for one
  --save-copy=FILE.wacz     keep what the viewers get from the archive in FILE
  --save-catalogue[=FILE.wacz]
                            save every entry from the archive in FILE; without
                            FILE, ask where
  --proxy=URL               reach the archive through this proxy:
                            http://host:port or socks5h://host:port, or none;
                            default: https_proxy, http_proxy, all_proxy, then
                            the desktop&apos;s setting (live sites: never a proxy)
  -h, --help                print this help and exit
  --version                 print the name and version and exit
</source>
        <translation>用法：photoforKP [选项]...
浏览 Ostavel 宠物社区网站的图鉴。

  --archive                 从网页存档打开所有链接，而不是从网站
  --archive-url=PREFIX      网页存档（Wayback 格式），默认 %1
  --archive-date=YYYY[MM[DD[hh[mm[ss]]]]]
                            优先打开最接近这个日期（UTC）的存档
  --archive-file[=FILE]     从网页存档文件（.wacz、.warc.gz、.warc，可以给出
                            多个）打开所有链接，完全不用网络；不给 FILE 时
                            会询问要打开的文件
  --save-copy=FILE.wacz     把查看器从网页存档得到的内容保存到 FILE
  --save-catalogue[=FILE.wacz]
                            把每个条目都从网页存档保存到 FILE；不给 FILE 时
                            会询问保存到哪里
  --proxy=URL               通过这个代理服务器连接网页存档：
                            http://主机:端口 或 socks5h://主机:端口，或 none；
                            默认依次使用 https_proxy、http_proxy、all_proxy，
                            然后是桌面的设置（网站本身从不经过代理）
  -h, --help                显示这个帮助并退出
  --version                 显示程序名和版本并退出
</translation>
    </message>
    <message>
        <source>no display to show windows on (DISPLAY is not set)</source>
        <translation>没有可以显示窗口的显示器（未设置 DISPLAY）</translation>
    </message>
    <message>
        <source>no display to show windows on (the display %1 did not answer)</source>
        <translation>没有可以显示窗口的显示器（显示器 %1 没有应答）</translation>
    </message>
    <message>
        <source>--proxy: %1: %2</source>
        <translation>--proxy：%1：%2</translation>
    </message>
    <message>
        <source>not an http:// or socks5h:// proxy</source>
        <translation>不是 http:// 或 socks5h:// 代理服务器</translation>
    </message>
    <message>
        <source>not a proxy address</source>
        <translation>不是代理服务器的地址</translation>
    </message>
    <message>
        <source>a proxy that needs a password is not supported</source>
        <translation>不支持需要密码的代理服务器</translation>
    </message>
    <message>
        <source>a proxy address has no path</source>
        <translation>代理服务器的地址不能带路径</translation>
    </message>
    <message>
        <source>--archive-url: %1 leads to this machine or its network (%2); a replay server on this machine is given by its address, such as http://127.0.0.1:8640/web/</source>
        <translation>--archive-url：%1 指向本机或本机所在的网络（%2）；本机上的存档服务器请用地址指定，例如 http://127.0.0.1:8640/web/</translation>
    </message>
</context>
</TS>
