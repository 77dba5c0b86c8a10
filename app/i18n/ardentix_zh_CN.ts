<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>TForm1</name>
    <message>
        <source>Real Media Files</source>
        <translation>RealMedia 文件</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>所有文件</translation>
    </message>
    <message>
        <source>Input Filename</source>
        <translation>输入文件名</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>时长</translation>
    </message>
    <message>
        <source>Size(Bytes)</source>
        <translation>大小(字节)</translation>
    </message>
    <message>
        <source>Output Filename</source>
        <translation>输出文件名</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>状态</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>路径</translation>
    </message>
    <message>
        <source>Add</source>
        <translation>添加</translation>
    </message>
    <message>
        <source>Remove</source>
        <translation>移除</translation>
    </message>
    <message>
        <source>Clear</source>
        <translation>清空</translation>
    </message>
    <message>
        <source>Move Up</source>
        <translation>上移</translation>
    </message>
    <message>
        <source>Move Down</source>
        <translation>下移</translation>
    </message>
    <message>
        <source>Output Folder: </source>
        <translation>输出文件夹：</translation>
    </message>
    <message>
        <source>Please select output folder</source>
        <translation>请选择输出文件夹</translation>
    </message>
    <message>
        <source>Output Settings</source>
        <translation>输出设置</translation>
    </message>
    <message>
        <source>Audio Channels: </source>
        <translation>声道：</translation>
    </message>
    <message>
        <source>Audio Bitrate: </source>
        <translation>音频比特率：</translation>
    </message>
    <message>
        <source>kbps</source>
        <translation>kbps</translation>
    </message>
    <message>
        <source>Audio Sample Rate: </source>
        <translation>音频采样率：</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>1 Channel, Mono</source>
        <translation>1 声道，单声道</translation>
    </message>
    <message>
        <source>2 Channels, Stereo</source>
        <translation>2 声道，立体声</translation>
    </message>
    <message>
        <source>Other Settings</source>
        <translation>其他设置</translation>
    </message>
    <message>
        <source>Overwrite existing files</source>
        <translation>覆盖已存在的文件</translation>
    </message>
    <message>
        <source>Shut down computer when completed</source>
        <translation>完成后关闭计算机</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
    </message>
    <message>
        <source>About</source>
        <translation>关于</translation>
    </message>
    <message>
        <source>Help</source>
        <translation>帮助</translation>
    </message>
    <message>
        <source>%1. Please re-install the program and try it again.</source>
        <translation>%1。请重新安装本程序后再试。</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Convertion of file &quot;%1&quot; is not supported.</source>
        <translation>不支持转换文件“%1”。</translation>
    </message>
    <message>
        <source>Cannot convert: %1</source>
        <translation>无法转换：%1</translation>
    </message>
    <message>
        <source>Choose Files to Convert</source>
        <translation>选择要转换的文件</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>停止</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>Please select files to be converted.</source>
        <translation>请选择要转换的文件。</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Cannot write to the output folder &quot;%1&quot;: %2.</source>
        <translation>无法写入输出文件夹“%1”：%2。</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>File conversion process finished.</source>
        <translation>文件转换已完成。</translation>
    </message>
    <message>
        <source>Current Frame=%1 Time=%2 FPS=%3</source>
        <translation>当前帧=%1 时间=%2 帧率=%3</translation>
    </message>
    <message>
        <source>Completed</source>
        <translation>已完成</translation>
    </message>
    <message>
        <source>Completed (%1 of %2)</source>
        <translation>已完成（%1 / %2）</translation>
    </message>
</context>
<context>
    <name>TFrmAbout</name>
    <message>
        <source>About Ardentix</source>
        <translation>关于 Ardentix</translation>
    </message>
    <message>
        <source>RealMedia to MP3 batch converter</source>
        <translation>RealMedia 转 MP3 批量转换器</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
</context>
<context>
    <name>TMessageText</name>
    <message>
        <source>%1% Completed</source>
        <translation>已完成 %1%</translation>
    </message>
    <message>
        <source>%1 Converted</source>
        <translation>已转换 %1</translation>
    </message>
    <message>
        <source>%1: Unknown format</source>
        <translation>%1：未知格式</translation>
    </message>
    <message>
        <source>%1: Error while parsing header</source>
        <translation>%1：解析文件头时出错</translation>
    </message>
    <message>
        <source>%1: memory allocation error occurred</source>
        <translation>%1：内存分配出错</translation>
    </message>
    <message>
        <source>%1: I/O error occurred<byte value="xd"/>
Usually that means that input file is truncated and/or corrupted.</source>
        <translation>%1：发生输入/输出错误<byte value="xd"/>
这通常表示输入文件不完整或已损坏。</translation>
    </message>
    <message>
        <source>%1: no such file or directory</source>
        <translation>%1：没有那个文件或目录</translation>
    </message>
    <message>
        <source>%1: Error while opening file</source>
        <translation>%1：打开文件时出错</translation>
    </message>
    <message>
        <source>%1: could not find codec parameters</source>
        <translation>%1：找不到编解码器参数</translation>
    </message>
    <message>
        <source>Could not open &apos;%1&apos;</source>
        <translation>无法打开“%1”</translation>
    </message>
    <message>
        <source>Output file #%1 does not contain any stream</source>
        <translation>输出文件 #%1 不包含任何流</translation>
    </message>
    <message>
        <source>Load library %1 error: %2</source>
        <translation>加载库 %1 出错：%2</translation>
    </message>
    <message>
        <source>%1: link to %2, which cannot be fetched: only local files are converted</source>
        <translation>%1：链接到 %2，无法获取：只转换本机上的文件</translation>
    </message>
    <message>
        <source>%1: link to %2, which leads back to a link already followed</source>
        <translation>%1：链接到 %2，它又指回了已经访问过的链接</translation>
    </message>
    <message>
        <source>%1: link to %2, one link too many in a row</source>
        <translation>%1：链接到 %2，连续的链接层数过多</translation>
    </message>
    <message>
        <source>%1: names too many files and links; the rest are left out</source>
        <translation>%1：列出的文件和链接过多，其余的已略过</translation>
    </message>
    <message>
        <source>%1: line %2 is too long to name a file</source>
        <translation>%1：第 %2 行过长，不能作为文件名</translation>
    </message>
    <message>
        <source>%1: only the first %2 entries are read</source>
        <translation>%1：只读取前 %2 项</translation>
    </message>
    <message>
        <source>%1: link to %2: %3</source>
        <translation>%1：链接到 %2：%3</translation>
    </message>
    <message>
        <source>no such file</source>
        <translation>文件不存在</translation>
    </message>
    <message>
        <source>is a directory</source>
        <translation>是一个目录</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>不是普通文件</translation>
    </message>
    <message>
        <source>Unable to write to %1</source>
        <translation>无法写入 %1</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>权限不够</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>没有那个文件或目录</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>不是目录</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>设备上没有空间</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>只读文件系统</translation>
    </message>
    <message>
        <source>File name too long</source>
        <translation>文件名过长</translation>
    </message>
    <message>
        <source>%1: link file that names no file</source>
        <translation>%1：链接文件中没有列出任何文件</translation>
    </message>
    <message>
        <source>Could not open &apos;%1&apos;: %2</source>
        <translation>无法打开“%1”：%2</translation>
    </message>
    <message>
        <source>Could not save &apos;%1&apos;: %2</source>
        <translation>无法保存“%1”：%2</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is the input file &apos;%2&apos; itself</source>
        <translation>“%1”就是输入文件“%2”本身</translation>
    </message>
</context>
</TS>
