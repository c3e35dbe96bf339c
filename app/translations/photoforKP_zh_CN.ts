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
