<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>TForm1</name>
    <message>
        <source>Stopped · %1 of %2 files converted · %3% · %4 elapsed</source>
        <translation>已停止 · 已转换 %1 / %2 个文件 · %3% · 已用 %4</translation>
    </message>
    <message>
        <source>%p%</source>
        <translation>%p%</translation>
    </message>
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
        <source>Please select output folder</source>
        <translation>请选择输出文件夹</translation>
    </message>
    <message>
        <source>Output Settings</source>
        <translation>输出设置</translation>
    </message>
    <message>
        <source>kbps</source>
        <translation>kbps</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>Other Settings</source>
        <translation>其他设置</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>转换</translation>
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
        <source>Current Frame=%1 Time=%2 FPS=%3</source>
        <translation>当前帧=%1 时间=%2 帧率=%3</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>添加(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>移除(&amp;R)</translation>
    </message>
    <message>
        <source>C&amp;lear</source>
        <translation>清空(&amp;L)</translation>
    </message>
    <message>
        <source>Move &amp;Up</source>
        <translation>上移(&amp;U)</translation>
    </message>
    <message>
        <source>Move &amp;Down</source>
        <translation>下移(&amp;D)</translation>
    </message>
    <message>
        <source>Output &amp;Folder: </source>
        <translation>输出文件夹(&amp;F)：</translation>
    </message>
    <message>
        <source>Audio &amp;Channels: </source>
        <translation>声道(&amp;C)：</translation>
    </message>
    <message>
        <source>Audio &amp;Bitrate: </source>
        <translation>音频比特率(&amp;B)：</translation>
    </message>
    <message>
        <source>Audio Sample Rat&amp;e: </source>
        <translation>音频采样率(&amp;E)：</translation>
    </message>
    <message>
        <source>Shut do&amp;wn computer when completed</source>
        <translation>完成后关闭计算机(&amp;W)</translation>
    </message>
    <message>
        <source>Copy ta&amp;gs</source>
        <translation>复制标签(&amp;G)</translation>
    </message>
    <message>
        <source>Title, artist, copyright and comment of each file go into its MP3 or MP4 file</source>
        <translation>每个文件的标题、艺术家、版权和注释都会写入其 MP3 或 MP4 文件</translation>
    </message>
    <message>
        <source>Si&amp;multaneous conversions: </source>
        <translation>同时转换数(&amp;M)：</translation>
    </message>
    <message>
        <source>Co&amp;nvert</source>
        <translation>转换(&amp;N)</translation>
    </message>
    <message>
        <source>Abou&amp;t</source>
        <translation>关于(&amp;T)</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>帮助(&amp;H)</translation>
    </message>
    <message>
        <source>Files to convert</source>
        <translation>要转换的文件</translation>
    </message>
    <message>
        <source>Choose the output folder</source>
        <translation>选择输出文件夹</translation>
    </message>
    <message>
        <source>Audio bitrate in kbps</source>
        <translation>音频比特率（kbps）</translation>
    </message>
    <message>
        <source>Audio sample rate in Hz</source>
        <translation>音频采样率（Hz）</translation>
    </message>
    <message>
        <source>Progress of the whole batch</source>
        <translation>整批转换的进度</translation>
    </message>
    <message>
        <source>Progress of the whole batch in words</source>
        <translation>整批转换进度的文字说明</translation>
    </message>
    <message>
        <source>Progress of the file being converted</source>
        <translation>正在转换的文件的进度</translation>
    </message>
    <message>
        <source>Files are being converted. Stop converting and close Ardentix?</source>
        <translation>正在转换文件。要停止转换并关闭 Ardentix 吗？</translation>
    </message>
    <message>
        <source>Stop and &amp;close</source>
        <translation>停止并关闭(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Keep converting</source>
        <translation>继续转换(&amp;K)</translation>
    </message>
    <message>
        <source>Every file in the list has been converted already. Convert them all again?</source>
        <translation>列表中的所有文件都已转换过。要全部重新转换吗？</translation>
    </message>
    <message>
        <source>Convert &amp;again</source>
        <translation>重新转换(&amp;A)</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>取消(&amp;C)</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>停止(&amp;S)</translation>
    </message>
    <message>
        <source>%1 of %2 files converted.</source>
        <translation>已转换 %1 个文件，共 %2 个。</translation>
    </message>
    <message>
        <source>%1 of %2 files converted, %3 failed.</source>
        <translation>已转换 %1 个文件，共 %2 个，%3 个失败。</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>转换完成</translation>
    </message>
    <message>
        <source>Ardentix: conversion finished</source>
        <translation>Ardentix：转换完成</translation>
    </message>
    <message>
        <source>1 file</source>
        <translation>1 个文件</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>%1 个文件</translation>
    </message>
    <message numerus="yes">
        <source>%Ln files</source>
        <translation>
            <numerusform>%Ln 个文件</numerusform>
        </translation>
    </message>
    <message>
        <source>Number of files in the list</source>
        <translation>列表中的文件数</translation>
    </message>
    <message>
        <source>%1 converted, %2 failed.</source>
        <translation>%1 个已转换，%2 个失败。</translation>
    </message>
    <message>
        <source>Failed:</source>
        <translation>失败：</translation>
    </message>
    <message>
        <source>Converted:</source>
        <translation>已转换：</translation>
    </message>
    <message>
        <source>Files %1–%2 of %3</source>
        <translation>第 %1–%2 个文件，共 %3 个</translation>
    </message>
    <message>
        <source>File %1 of %2</source>
        <translation>第 %1 个文件，共 %2 个</translation>
    </message>
    <message>
        <source>estimating the time left</source>
        <translation>正在估算剩余时间</translation>
    </message>
    <message>
        <source>about %1 left</source>
        <translation>约剩 %1</translation>
    </message>
    <message>
        <source>%1 · %2% · %3 elapsed · %4</source>
        <translation>%1 · %2% · 已用 %3 · %4</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 / %2</translation>
    </message>
    <message>
        <source>%1× real time</source>
        <translation>%1 倍实时速度</translation>
    </message>
    <message>
        <source>Out&amp;put format: </source>
        <translation>输出格式(&amp;P)：</translation>
    </message>
    <message>
        <source>PAL</source>
        <translation>PAL</translation>
    </message>
    <message>
        <source>NTSC</source>
        <translation>NTSC</translation>
    </message>
    <message>
        <source>The TV standard of the disc or tape: PAL (25 pictures a second) or NTSC (29.97)</source>
        <translation>光盘或磁带的电视制式：PAL（每秒 25 帧）或 NTSC（29.97）</translation>
    </message>
    <message>
        <source>Show pre&amp;view</source>
        <translation>显示预览(&amp;V)</translation>
    </message>
    <message>
        <source>TV standard</source>
        <translation>电视制式</translation>
    </message>
    <message>
        <source>Largest p&amp;icture: </source>
        <translation>最大画面(&amp;I): </translation>
    </message>
    <message>
        <source>No limit</source>
        <translation>不限</translation>
    </message>
    <message>
        <source>A larger picture is made smaller to fit, keeping its shape; a smaller one stays as it is</source>
        <translation>较大的画面缩小到合适大小并保持其比例；较小的画面保持不变</translation>
    </message>
    <message>
        <source>%1 sets the audio by its own standard</source>
        <translation>%1 按其自身标准设定音频</translation>
    </message>
    <message>
        <source>Shows the pictures of each video as it is converted, up to ten a second</source>
        <translation>转换时显示每个视频的画面，每秒最多十幅</translation>
    </message>
    <message>
        <source>Ever&amp;y audio track</source>
        <translation>每条音轨(&amp;Y)</translation>
    </message>
    <message>
        <source>Each sound track of the source is kept with its language and title; otherwise only the first</source>
        <translation>保留源文件的每条音轨及其语言和标题；否则只保留第一条</translation>
    </message>
    <message>
        <source>&amp;Quality: </source>
        <translation>质量(&amp;Q): </translation>
    </message>
    <message>
        <source>Compression: </source>
        <translation>压缩级别: </translation>
    </message>
    <message>
        <source>%1 keeps every sample as it is</source>
        <translation>%1 原样保留每个采样</translation>
    </message>
    <message>
        <source>From -1 (smallest) to 10 (best); Automatic is 3, about 112 kbps for stereo</source>
        <translation>从 -1（最小）到 10（最好）；自动为 3，立体声约 112 kbps</translation>
    </message>
    <message>
        <source>From 0 (fastest) to 12 (smallest file); the sound is the same</source>
        <translation>从 0（最快）到 12（文件最小）；声音相同</translation>
    </message>
    <message>
        <source>Add folder&amp;s...</source>
        <translation>添加文件夹(&amp;J)...</translation>
    </message>
    <message>
        <source>Adds the media files of a folder and its subfolders (Ctrl+Shift+O)</source>
        <translation>添加一个文件夹及其子文件夹中的媒体文件 (Ctrl+Shift+O)</translation>
    </message>
    <message>
        <source>Choose a Folder to Convert</source>
        <translation>选择要转换的文件夹</translation>
    </message>
    <message>
        <source>%1 has no pictures to show</source>
        <translation>%1 没有可显示的画面</translation>
    </message>
    <message>
        <source>%1 skipped: their outputs exist already.</source>
        <translation>%1 个已跳过：其输出已存在。</translation>
    </message>
    <message>
        <source>Stopped, kept shorter than the input:</source>
        <translation>已停止，保留了比输入短的文件：</translation>
    </message>
    <message>
        <source>If an &amp;output exists: </source>
        <translation>如果输出已存在(&amp;O)：</translation>
    </message>
    <message>
        <source>Skip: a file already at the output&apos;s name counts as converted, so a stopped batch started again converts only the files still missing</source>
        <translation>跳过：已占用输出文件名的文件算作已转换，因此被停止的一批文件再次开始时只转换仍然缺少的文件</translation>
    </message>
    <message>
        <source>Save ne&amp;xt to each source file</source>
        <translation>保存在每个源文件旁边(&amp;X)</translation>
    </message>
    <message>
        <source>Each output goes to the folder of its source file instead of the output folder</source>
        <translation>每个输出写到其源文件所在的文件夹，而不是输出文件夹</translation>
    </message>
    <message>
        <source>Remove blac&amp;k bars</source>
        <translation>去除黑边(&amp;K)</translation>
    </message>
    <message>
        <source>Deinterlace: </source>
        <translation>去隔行: </translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>On</source>
        <translation>开</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>关</translation>
    </message>
    <message>
        <source>Automatic: an interlaced video is deinterlaced unless DVD or DV keeps its fields as they are</source>
        <translation>自动：隔行扫描的视频会被去隔行，除非 DVD 或 DV 原样保留其场</translation>
    </message>
    <message>
        <source>Black bands at the edges of every sampled picture are cut off</source>
        <translation>在每个抽样画面边缘都为黑色的条带会被裁掉</translation>
    </message>
    <message>
        <source>%1 keeps the whole picture</source>
        <translation>%1 保留完整画面</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>暂停(&amp;P)</translation>
    </message>
    <message>
        <source>paused</source>
        <translation>已暂停</translation>
    </message>
    <message>
        <source>&amp;Resume</source>
        <translation>继续(&amp;R)</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>继续</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>暂停</translation>
    </message>
    <message>
        <source>No program was found to open the guide (the package xdg-utils provides one). The guide is the file:
%1</source>
        <translation>未找到可以打开指南的程序（xdg-utils 软件包提供此类程序）。指南是以下文件：
%1</translation>
    </message>
</context>
<context>
    <name>TFrmAbout</name>
    <message>
        <source>About Ardentix</source>
        <translation>关于 Ardentix</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>确定</translation>
    </message>
    <message>
        <source>Converts RealMedia and other media files, several at once, to MP3 audio or to MP4, DVD, VCD, SVCD and DV video</source>
        <translation>同时转换多个 RealMedia 及其他媒体文件，输出为 MP3 音频或 MP4、DVD、VCD、SVCD 和 DV 视频</translation>
    </message>
</context>
<context>
    <name>TMessageText</name>
    <message>
        <source>Paused</source>
        <translation>已暂停</translation>
    </message>
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
    <message>
        <source>Completed</source>
        <translation>已完成</translation>
    </message>
    <message>
        <source>Completed (%1)</source>
        <translation>已完成（%1）</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 / %2</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>失败</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>错误</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>提示</translation>
    </message>
    <message>
        <source>Cannot convert: %1</source>
        <translation>无法转换：%1</translation>
    </message>
    <message>
        <source>Please select files to be converted.</source>
        <translation>请选择要转换的文件。</translation>
    </message>
    <message>
        <source>Cannot write to the output folder &quot;%1&quot;: %2.</source>
        <translation>无法写入输出文件夹“%1”：%2。</translation>
    </message>
    <message>
        <source>%1. Please re-install the program and try it again.</source>
        <translation>%1。请重新安装本程序后再试。</translation>
    </message>
    <message>
        <source>File conversion process finished.</source>
        <translation>文件转换已完成。</translation>
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
        <source>Automatic</source>
        <translation>自动</translation>
    </message>
    <message>
        <source>Same as source</source>
        <translation>与源文件相同</translation>
    </message>
    <message>
        <source>VBR high</source>
        <translation>VBR 高音质</translation>
    </message>
    <message>
        <source>VBR standard</source>
        <translation>VBR 标准</translation>
    </message>
    <message>
        <source>VBR small</source>
        <translation>VBR 小文件</translation>
    </message>
    <message>
        <source>%1 · Frame %2 · %3 fps</source>
        <translation>%1 · 第 %2 帧 · %3 帧/秒</translation>
    </message>
    <message>
        <source>MP3 audio</source>
        <translation>MP3 音频</translation>
    </message>
    <message>
        <source>M4A audio (AAC)</source>
        <translation>M4A 音频 (AAC)</translation>
    </message>
    <message>
        <source>Opus audio</source>
        <translation>Opus 音频</translation>
    </message>
    <message>
        <source>Ogg Vorbis audio</source>
        <translation>Ogg Vorbis 音频</translation>
    </message>
    <message>
        <source>FLAC audio (lossless)</source>
        <translation>FLAC 音频（无损）</translation>
    </message>
    <message>
        <source>WAV audio (uncompressed)</source>
        <translation>WAV 音频（未压缩）</translation>
    </message>
    <message>
        <source>MP4 video (H.264/AAC)</source>
        <translation>MP4 视频 (H.264/AAC)</translation>
    </message>
    <message>
        <source>DVD (MPEG-2)</source>
        <translation>DVD (MPEG-2)</translation>
    </message>
    <message>
        <source>VCD (MPEG-1)</source>
        <translation>VCD (MPEG-1)</translation>
    </message>
    <message>
        <source>SVCD (MPEG-2)</source>
        <translation>SVCD (MPEG-2)</translation>
    </message>
    <message>
        <source>DV</source>
        <translation>DV</translation>
    </message>
    <message>
        <source>MKV video (H.264/AAC)</source>
        <translation>MKV 视频 (H.264/AAC)</translation>
    </message>
    <message>
        <source>DVCPRO 50 (4:2:2)</source>
        <translation>DVCPRO 50 (4:2:2)</translation>
    </message>
    <message>
        <source>has no video stream to write as %1</source>
        <translation>没有可写为 %1 的视频流</translation>
    </message>
    <message>
        <source>Stopped (%1)</source>
        <translation>已停止（%1）</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>已跳过</translation>
    </message>
    <message>
        <source>Waiting to be read</source>
        <translation>等待读取</translation>
    </message>
    <message>
        <source>Number the new file</source>
        <translation>为新文件编号</translation>
    </message>
    <message>
        <source>Skip the file</source>
        <translation>跳过该文件</translation>
    </message>
    <message>
        <source>Replace the old file</source>
        <translation>替换旧文件</translation>
    </message>
</context>
<context>
    <name>TReason</name>
    <message>
        <source>Cannot read the input</source>
        <translation>无法读取输入文件</translation>
    </message>
    <message>
        <source>The link names nothing that can be converted</source>
        <translation>该链接未指向任何可转换的内容</translation>
    </message>
    <message>
        <source>The input has nothing to write as this format</source>
        <translation>输入文件中没有可写成此格式的内容</translation>
    </message>
    <message>
        <source>Cannot write to the output folder</source>
        <translation>无法写入输出文件夹</translation>
    </message>
    <message>
        <source>The output would replace the input</source>
        <translation>输出文件将替换输入文件</translation>
    </message>
    <message>
        <source>The output&apos;s name cannot be used</source>
        <translation>无法使用输出文件的名称</translation>
    </message>
    <message>
        <source>The disk is full</source>
        <translation>磁盘已满</translation>
    </message>
    <message>
        <source>The input could not be decoded</source>
        <translation>无法解码输入文件</translation>
    </message>
    <message>
        <source>The conversion failed</source>
        <translation>转换失败</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>已停止</translation>
    </message>
    <message>
        <source>The input ends early</source>
        <translation>输入文件提前结束</translation>
    </message>
    <message>
        <source>The output exists already</source>
        <translation>输出已存在</translation>
    </message>
    <message>
        <source>No permission to read it</source>
        <translation>没有读取权限</translation>
    </message>
    <message>
        <source>The name is too long</source>
        <translation>名称过长</translation>
    </message>
    <message>
        <source>Not a file (a device, a pipe or a socket)</source>
        <translation>不是文件（设备、管道或套接字）</translation>
    </message>
    <message>
        <source>The link points to nothing</source>
        <translation>链接指向不存在的目标</translation>
    </message>
    <message>
        <source>Removed or replaced before its turn</source>
        <translation>轮到之前已被删除或替换</translation>
    </message>
</context>
<context>
    <name>TSummaryDialog</name>
    <message>
        <source>Summary of the conversion</source>
        <translation>转换摘要</translation>
    </message>
    <message>
        <source>&amp;Open folder</source>
        <translation>打开文件夹(&amp;O)</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>复制(&amp;C)</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>关闭</translation>
    </message>
</context>
</TS>
