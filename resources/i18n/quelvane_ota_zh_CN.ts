<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>FilePickerDialog</name>
    <message>
        <source>A folder with this name already exists</source>
        <translation>同名文件夹已存在</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Cannot create folder here</source>
        <translation>无法在此处创建文件夹</translation>
    </message>
    <message>
        <source>Cannot open folder: </source>
        <translation>无法打开文件夹：</translation>
    </message>
    <message>
        <source>Empty folder</source>
        <translation>空文件夹</translation>
    </message>
    <message>
        <source>Enter a file name</source>
        <translation>请输入文件名</translation>
    </message>
    <message>
        <source>File name:</source>
        <translation>文件名：</translation>
    </message>
    <message>
        <source>Invalid folder name</source>
        <translation>文件夹名称无效</translation>
    </message>
    <message>
        <source>New Folder</source>
        <translation>新建文件夹</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Save to: </source>
        <translation>保存到：</translation>
    </message>
    <message>
        <source>Select a file</source>
        <translation>请选择文件</translation>
    </message>
    <message>
        <source>Selected: </source>
        <translation>已选择：</translation>
    </message>
    <message>
        <source>Up</source>
        <translation>上一级</translation>
    </message>
    <message>
        <source>Replace file?</source>
        <translation>替换文件？</translation>
    </message>
    <message>
        <source>%1 already exists. Saving replaces it.</source>
        <translation>%1 已存在。保存将替换它。</translation>
    </message>
</context>
<context>
    <name>HeaderBar</name>
    <message>
        <source>Language</source>
        <translation>语言</translation>
    </message>
    <message>
        <source>Theme</source>
        <translation>主题</translation>
    </message>
</context>
<context>
    <name>ImageSummary</name>
    <message>
        <source>A run would refuse this file: %1</source>
        <translation>升级将拒绝此文件：%1</translation>
    </message>
    <message>
        <source>%1 bytes plain  ·  CRC-32 %2  ·  %3 frames</source>
        <translation>明文 %1 字节  ·  CRC-32 %2  ·  %3 帧</translation>
    </message>
    <message>
        <source>at least %1 s at %2 baud</source>
        <translation>%2 波特率下至少 %1 秒</translation>
    </message>
</context>
<context>
    <name>LogCard</name>
    <message>
        <source>Save Log</source>
        <translation>保存日志</translation>
    </message>
    <message>
        <source>Progress</source>
        <translation>进度</translation>
    </message>
</context>
<context>
    <name>Main</name>
    <message>
        <source>Last upgrade OK</source>
        <translation>上次升级成功</translation>
    </message>
    <message>
        <source>Last upgrade failed</source>
        <translation>上次升级失败</translation>
    </message>
    <message>
        <source>No warm boot</source>
        <translation>不热启动</translation>
    </message>
    <message>
        <source>Ready</source>
        <translation>就绪</translation>
    </message>
    <message>
        <source>Select Firmware Image</source>
        <translation>选择固件镜像</translation>
    </message>
    <message>
        <source>UART Serial (APP1)</source>
        <translation>串口 UART (APP1)</translation>
    </message>
    <message>
        <source>UDP Network (100M)</source>
        <translation>网口 UDP (100M)</translation>
    </message>
    <message>
        <source>Upgrading</source>
        <translation>升级中</translation>
    </message>
    <message>
        <source>Warm boot to APP1</source>
        <translation>热启动到 APP1</translation>
    </message>
    <message>
        <source>Warm boot to APP2</source>
        <translation>热启动到 APP2</translation>
    </message>
    <message>
        <source>Log saved to %1</source>
        <translation>日志已保存到 %1</translation>
    </message>
    <message>
        <source>Save Log</source>
        <translation>保存日志</translation>
    </message>
    <message>
        <source>TRANSPORT</source>
        <translation>传输方式</translation>
    </message>
    <message>
        <source>SERIAL</source>
        <translation>串口</translation>
    </message>
    <message>
        <source>Refresh</source>
        <translation>刷新</translation>
    </message>
    <message>
        <source>BAUD RATE</source>
        <translation>波特率</translation>
    </message>
    <message>
        <source>BOARD IP</source>
        <translation>板卡 IP</translation>
    </message>
    <message>
        <source>BOARD PORT</source>
        <translation>板卡端口</translation>
    </message>
    <message>
        <source>HOST ADAPTER</source>
        <translation>主机网卡</translation>
    </message>
    <message>
        <source>Detect</source>
        <translation>检测</translation>
    </message>
    <message>
        <source>HOST PORT</source>
        <translation>主机端口</translation>
    </message>
    <message>
        <source>FIRMWARE IMAGE</source>
        <translation>固件镜像</translation>
    </message>
    <message>
        <source>Select encrypted image (.qvbit)...</source>
        <translation>选择加密镜像（.qvbit）...</translation>
    </message>
    <message>
        <source>Browse</source>
        <translation>浏览</translation>
    </message>
    <message>
        <source>OPTIONS</source>
        <translation>选项</translation>
    </message>
    <message>
        <source>Upgrading...</source>
        <translation>正在升级...</translation>
    </message>
    <message>
        <source>Start Upgrade</source>
        <translation>开始升级</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>PGL25G firmware update  ·  writes slot APP2 @0x400000  ·  Golden/APP1 untouched</source>
        <translation>PGL25G 固件升级 · 写入槽位 APP2 @0x400000 · Golden/APP1 不受影响</translation>
    </message>
    <message>
        <source>UPGRADE LOG</source>
        <translation>升级日志</translation>
    </message>
    <message>
        <source>Clear Log</source>
        <translation>清空日志</translation>
    </message>
    <message>
        <source>%1 (not found)</source>
        <extracomment>A chosen serial port that is not plugged in at the moment; %1 is the port as listed.</extracomment>
        <translation>%1（未检测到）</translation>
    </message>
</context>
<context>
    <name>Theme</name>
    <message>
        <source>Abyss Black</source>
        <translation>深渊黑</translation>
    </message>
    <message>
        <source>Carbon Amber</source>
        <translation>碳素琥珀</translation>
    </message>
    <message>
        <source>Deep Blue</source>
        <translation>深海蓝</translation>
    </message>
    <message>
        <source>Graphite Gray</source>
        <translation>石墨灰</translation>
    </message>
    <message>
        <source>Light</source>
        <translation>浅色</translation>
    </message>
    <message>
        <source>Medical</source>
        <translation>医疗</translation>
    </message>
    <message>
        <source>Midnight Teal</source>
        <translation>午夜青</translation>
    </message>
    <message>
        <source>Mist Cyan</source>
        <translation>薄雾青</translation>
    </message>
    <message>
        <source>Slate Copper</source>
        <translation>青石铜</translation>
    </message>
</context>
<context>
    <name>ThemedDialog</name>
    <message>
        <source>Cancel</source>
        <translation>取消</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
    <message>
        <source>No</source>
        <translation>否</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Yes</source>
        <translation>是</translation>
    </message>
</context>
</TS>
