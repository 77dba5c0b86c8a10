<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>TForm1</name>
    <message>
        <source>Stopped · %1 of %2 files converted · %3% · %4 elapsed</source>
        <translation>Gestoppt · %1 von %2 Dateien konvertiert · %3 % · %4 vergangen</translation>
    </message>
    <message>
        <source>%p%</source>
        <translation>%p %</translation>
    </message>
    <message>
        <source>Real Media Files</source>
        <translation>RealMedia-Dateien</translation>
    </message>
    <message>
        <source>All Files</source>
        <translation>Alle Dateien</translation>
    </message>
    <message>
        <source>Input Filename</source>
        <translation>Eingabedatei</translation>
    </message>
    <message>
        <source>Duration</source>
        <translation>Dauer</translation>
    </message>
    <message>
        <source>Size(Bytes)</source>
        <translation>Größe (Bytes)</translation>
    </message>
    <message>
        <source>Output Filename</source>
        <translation>Ausgabedatei</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Status</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Pfad</translation>
    </message>
    <message>
        <source>Please select output folder</source>
        <translation>Bitte den Ausgabeordner wählen</translation>
    </message>
    <message>
        <source>Output Settings</source>
        <translation>Ausgabeeinstellungen</translation>
    </message>
    <message>
        <source>kbps</source>
        <translation>kbit/s</translation>
    </message>
    <message>
        <source>Hz</source>
        <translation>Hz</translation>
    </message>
    <message>
        <source>Other Settings</source>
        <translation>Weitere Einstellungen</translation>
    </message>
    <message>
        <source>Convert</source>
        <translation>Konvertieren</translation>
    </message>
    <message>
        <source>Choose Files to Convert</source>
        <translation>Zu konvertierende Dateien wählen</translation>
    </message>
    <message>
        <source>Stop</source>
        <translation>Stopp</translation>
    </message>
    <message>
        <source>Current Frame=%1 Time=%2 FPS=%3</source>
        <translation>Aktuelles Bild=%1 Zeit=%2 FPS=%3</translation>
    </message>
    <message>
        <source>&amp;Add</source>
        <translation>&amp;Hinzufügen</translation>
    </message>
    <message>
        <source>&amp;Remove</source>
        <translation>&amp;Entfernen</translation>
    </message>
    <message>
        <source>C&amp;lear</source>
        <translation>&amp;Leeren</translation>
    </message>
    <message>
        <source>Move &amp;Up</source>
        <translation>Na&amp;ch oben</translation>
    </message>
    <message>
        <source>Move &amp;Down</source>
        <translation>Nach &amp;unten</translation>
    </message>
    <message>
        <source>Output &amp;Folder: </source>
        <translation>&amp;Ausgabeordner: </translation>
    </message>
    <message>
        <source>Audio &amp;Channels: </source>
        <translation>Au&amp;diokanäle: </translation>
    </message>
    <message>
        <source>Audio &amp;Bitrate: </source>
        <translation>Audio-&amp;Bitrate: </translation>
    </message>
    <message>
        <source>Audio Sample Rat&amp;e: </source>
        <translation>Abtast&amp;rate: </translation>
    </message>
    <message>
        <source>Shut do&amp;wn computer when completed</source>
        <translation>Computer nach Abschluss herunter&amp;fahren</translation>
    </message>
    <message>
        <source>Copy ta&amp;gs</source>
        <translation>Tags überneh&amp;men</translation>
    </message>
    <message>
        <source>Title, artist, copyright and comment of each file go into its MP3 or MP4 file</source>
        <translation>Titel, Interpret, Copyright und Kommentar jeder Datei kommen in ihre MP3- oder MP4-Datei</translation>
    </message>
    <message>
        <source>Si&amp;multaneous conversions: </source>
        <translation>&amp;Gleichzeitige Konvertierungen: </translation>
    </message>
    <message>
        <source>Co&amp;nvert</source>
        <translation>&amp;Konvertieren</translation>
    </message>
    <message>
        <source>Abou&amp;t</source>
        <translation>I&amp;nfo</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>H&amp;ilfe</translation>
    </message>
    <message>
        <source>Files to convert</source>
        <translation>Zu konvertierende Dateien</translation>
    </message>
    <message>
        <source>Choose the output folder</source>
        <translation>Den Ausgabeordner wählen</translation>
    </message>
    <message>
        <source>Audio bitrate in kbps</source>
        <translation>Audio-Bitrate in kbit/s</translation>
    </message>
    <message>
        <source>Audio sample rate in Hz</source>
        <translation>Abtastrate in Hz</translation>
    </message>
    <message>
        <source>Progress of the whole batch</source>
        <translation>Fortschritt des ganzen Stapels</translation>
    </message>
    <message>
        <source>Progress of the whole batch in words</source>
        <translation>Fortschritt des ganzen Stapels in Worten</translation>
    </message>
    <message>
        <source>Progress of the file being converted</source>
        <translation>Fortschritt der Datei, die gerade konvertiert wird</translation>
    </message>
    <message>
        <source>Files are being converted. Stop converting and close Ardentix?</source>
        <translation>Es werden gerade Dateien konvertiert. Die Konvertierung stoppen und Ardentix schließen?</translation>
    </message>
    <message>
        <source>Stop and &amp;close</source>
        <translation>Stoppen und &amp;schließen</translation>
    </message>
    <message>
        <source>&amp;Keep converting</source>
        <translation>&amp;Weiter konvertieren</translation>
    </message>
    <message>
        <source>Every file in the list has been converted already. Convert them all again?</source>
        <translation>Jede Datei der Liste ist schon konvertiert. Alle noch einmal konvertieren?</translation>
    </message>
    <message>
        <source>Convert &amp;again</source>
        <translation>&amp;Noch einmal konvertieren</translation>
    </message>
    <message>
        <source>&amp;Cancel</source>
        <translation>&amp;Abbrechen</translation>
    </message>
    <message>
        <source>&amp;Stop</source>
        <translation>S&amp;topp</translation>
    </message>
    <message>
        <source>%1 of %2 files converted.</source>
        <translation>%1 von %2 Dateien konvertiert.</translation>
    </message>
    <message>
        <source>%1 of %2 files converted, %3 failed.</source>
        <translation>%1 von %2 Dateien konvertiert, %3 fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Conversion finished</source>
        <translation>Konvertierung abgeschlossen</translation>
    </message>
    <message>
        <source>Ardentix: conversion finished</source>
        <translation>Ardentix: Konvertierung abgeschlossen</translation>
    </message>
    <message>
        <source>1 file</source>
        <translation>1 Datei</translation>
    </message>
    <message>
        <source>%1 files</source>
        <translation>%1 Dateien</translation>
    </message>
    <message numerus="yes">
        <source>%Ln files</source>
        <translation>
            <numerusform>%Ln Datei</numerusform>
            <numerusform>%Ln Dateien</numerusform>
        </translation>
    </message>
    <message>
        <source>Number of files in the list</source>
        <translation>Anzahl der Dateien in der Liste</translation>
    </message>
    <message>
        <source>%1 converted, %2 failed.</source>
        <translation>%1 konvertiert, %2 fehlgeschlagen.</translation>
    </message>
    <message>
        <source>Failed:</source>
        <translation>Fehlgeschlagen:</translation>
    </message>
    <message>
        <source>Converted:</source>
        <translation>Konvertiert:</translation>
    </message>
    <message>
        <source>Files %1–%2 of %3</source>
        <translation>Dateien %1–%2 von %3</translation>
    </message>
    <message>
        <source>File %1 of %2</source>
        <translation>Datei %1 von %2</translation>
    </message>
    <message>
        <source>estimating the time left</source>
        <translation>Restzeit wird geschätzt</translation>
    </message>
    <message>
        <source>about %1 left</source>
        <translation>noch etwa %1</translation>
    </message>
    <message>
        <source>%1 · %2% · %3 elapsed · %4</source>
        <translation>%1 · %2 % · %3 vergangen · %4</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>%1× real time</source>
        <translation>%1-fache Echtzeit</translation>
    </message>
    <message>
        <source>Out&amp;put format: </source>
        <translation>&amp;Zielformat: </translation>
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
        <translation>Die Fernsehnorm der Disc oder des Bands: PAL (25 Bilder pro Sekunde) oder NTSC (29,97)</translation>
    </message>
    <message>
        <source>Show pre&amp;view</source>
        <translation>&amp;Vorschau zeigen</translation>
    </message>
    <message>
        <source>TV standard</source>
        <translation>Fernsehnorm</translation>
    </message>
    <message>
        <source>Largest p&amp;icture: </source>
        <translation>Ma&amp;ximales Bild: </translation>
    </message>
    <message>
        <source>No limit</source>
        <translation>Keine Grenze</translation>
    </message>
    <message>
        <source>A larger picture is made smaller to fit, keeping its shape; a smaller one stays as it is</source>
        <translation>Ein größeres Bild wird passend verkleinert und behält seine Form; ein kleineres bleibt, wie es ist</translation>
    </message>
    <message>
        <source>%1 sets the audio by its own standard</source>
        <translation>%1 legt den Ton nach seiner eigenen Norm fest</translation>
    </message>
    <message>
        <source>Shows the pictures of each video as it is converted, up to ten a second</source>
        <translation>Zeigt die Bilder jedes Videos während der Konvertierung, bis zu zehn pro Sekunde</translation>
    </message>
    <message>
        <source>Ever&amp;y audio track</source>
        <translation>&amp;Jede Tonspur</translation>
    </message>
    <message>
        <source>Each sound track of the source is kept with its language and title; otherwise only the first</source>
        <translation>Jede Tonspur der Quelle bleibt mit ihrer Sprache und ihrem Titel erhalten; sonst nur die erste</translation>
    </message>
    <message>
        <source>&amp;Quality: </source>
        <translation>&amp;Qualität: </translation>
    </message>
    <message>
        <source>Compression: </source>
        <translation>Kompression: </translation>
    </message>
    <message>
        <source>%1 keeps every sample as it is</source>
        <translation>%1 behält jeden Abtastwert, wie er ist</translation>
    </message>
    <message>
        <source>From -1 (smallest) to 10 (best); Automatic is 3, about 112 kbps for stereo</source>
        <translation>Von -1 (kleinste) bis 10 (beste); Automatisch ist 3, etwa 112 kbit/s für Stereo</translation>
    </message>
    <message>
        <source>From 0 (fastest) to 12 (smallest file); the sound is the same</source>
        <translation>Von 0 (schnellste) bis 12 (kleinste Datei); der Ton bleibt derselbe</translation>
    </message>
    <message>
        <source>Add folder&amp;s...</source>
        <translation>&amp;Ordner hinzufügen...</translation>
    </message>
    <message>
        <source>Adds the media files of a folder and its subfolders (Ctrl+Shift+O)</source>
        <translation>Fügt die Mediendateien eines Ordners und seiner Unterordner hinzu (Strg+Umschalt+O)</translation>
    </message>
    <message>
        <source>Choose a Folder to Convert</source>
        <translation>Einen Ordner zum Konvertieren wählen</translation>
    </message>
    <message>
        <source>%1 has no pictures to show</source>
        <translation>%1 hat keine Bilder zum Zeigen</translation>
    </message>
    <message>
        <source>%1 skipped: their outputs exist already.</source>
        <translation>%1 übersprungen: ihre Ausgaben existieren schon.</translation>
    </message>
    <message>
        <source>Stopped, kept shorter than the input:</source>
        <translation>Gestoppt, kürzer als die Eingabe behalten:</translation>
    </message>
    <message>
        <source>If an &amp;output exists: </source>
        <translation>&amp;Wenn eine Ausgabe existiert: </translation>
    </message>
    <message>
        <source>Skip: a file already at the output&apos;s name counts as converted, so a stopped batch started again converts only the files still missing</source>
        <translation>Überspringen: eine Datei, die schon unter dem Namen der Ausgabe liegt, gilt als konvertiert; ein gestoppter Stapel konvertiert beim nächsten Start also nur die Dateien, die noch fehlen</translation>
    </message>
    <message>
        <source>Save ne&amp;xt to each source file</source>
        <translation>Neben jeder &amp;Quelldatei speichern</translation>
    </message>
    <message>
        <source>Each output goes to the folder of its source file instead of the output folder</source>
        <translation>Jede Ausgabe kommt in den Ordner ihrer Quelldatei statt in den Ausgabeordner</translation>
    </message>
    <message>
        <source>Remove blac&amp;k bars</source>
        <translation>Schwarze Bal&amp;ken entfernen</translation>
    </message>
    <message>
        <source>Deinterlace: </source>
        <translation>Zeilensprung auflösen: </translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>On</source>
        <translation>Ein</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>Automatic: an interlaced video is deinterlaced unless DVD or DV keeps its fields as they are</source>
        <translation>Automatisch: Ein Video im Zeilensprungverfahren wird entflochten, außer DVD oder DV behält seine Halbbilder, wie sie sind</translation>
    </message>
    <message>
        <source>Black bands at the edges of every sampled picture are cut off</source>
        <translation>Schwarze Streifen an den Rändern jedes geprüften Bildes werden abgeschnitten</translation>
    </message>
    <message>
        <source>%1 keeps the whole picture</source>
        <translation>%1 behält das ganze Bild</translation>
    </message>
    <message>
        <source>&amp;Pause</source>
        <translation>&amp;Pause</translation>
    </message>
    <message>
        <source>paused</source>
        <translation>pausiert</translation>
    </message>
    <message>
        <source>&amp;Resume</source>
        <translation>&amp;Fortsetzen</translation>
    </message>
    <message>
        <source>Resume</source>
        <translation>Fortsetzen</translation>
    </message>
    <message>
        <source>Pause</source>
        <translation>Pause</translation>
    </message>
    <message>
        <source>No program was found to open the guide (the package xdg-utils provides one). The guide is the file:
%1</source>
        <translation>Es wurde kein Programm gefunden, das das Handbuch öffnen kann (das Paket xdg-utils bringt eines mit). Das Handbuch ist die Datei:
%1</translation>
    </message>
</context>
<context>
    <name>TFrmAbout</name>
    <message>
        <source>About Ardentix</source>
        <translation>Über Ardentix</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>Converts RealMedia and other media files, several at once, to MP3 audio or to MP4, DVD, VCD, SVCD and DV video</source>
        <translation>Konvertiert RealMedia- und andere Mediendateien, mehrere zugleich, in MP3-Audio oder in MP4-, DVD-, VCD-, SVCD- und DV-Video</translation>
    </message>
</context>
<context>
    <name>TMessageText</name>
    <message>
        <source>Paused</source>
        <translation>Pausiert</translation>
    </message>
    <message>
        <source>%1% Completed</source>
        <translation>%1 % abgeschlossen</translation>
    </message>
    <message>
        <source>%1 Converted</source>
        <translation>%1 konvertiert</translation>
    </message>
    <message>
        <source>%1: Unknown format</source>
        <translation>%1: Unbekanntes Format</translation>
    </message>
    <message>
        <source>%1: Error while parsing header</source>
        <translation>%1: Fehler beim Lesen des Dateikopfs</translation>
    </message>
    <message>
        <source>%1: memory allocation error occurred</source>
        <translation>%1: Speicher konnte nicht belegt werden</translation>
    </message>
    <message>
        <source>%1: I/O error occurred<byte value="xd"/>
Usually that means that input file is truncated and/or corrupted.</source>
        <translation>%1: Ein-/Ausgabefehler<byte value="xd"/>
Meist bedeutet das, dass die Eingabedatei abgeschnitten oder beschädigt ist.</translation>
    </message>
    <message>
        <source>%1: no such file or directory</source>
        <translation>%1: Datei oder Verzeichnis nicht gefunden</translation>
    </message>
    <message>
        <source>%1: Error while opening file</source>
        <translation>%1: Fehler beim Öffnen der Datei</translation>
    </message>
    <message>
        <source>%1: could not find codec parameters</source>
        <translation>%1: Codec-Parameter nicht gefunden</translation>
    </message>
    <message>
        <source>Could not open &apos;%1&apos;</source>
        <translation>„%1“ konnte nicht geöffnet werden</translation>
    </message>
    <message>
        <source>Output file #%1 does not contain any stream</source>
        <translation>Ausgabedatei #%1 enthält keinen Datenstrom</translation>
    </message>
    <message>
        <source>Load library %1 error: %2</source>
        <translation>Fehler beim Laden der Bibliothek %1: %2</translation>
    </message>
    <message>
        <source>%1: link to %2, which cannot be fetched: only local files are converted</source>
        <translation>%1: Verweis auf %2, der nicht abgerufen werden kann: nur lokale Dateien werden konvertiert</translation>
    </message>
    <message>
        <source>%1: link to %2, which leads back to a link already followed</source>
        <translation>%1: Verweis auf %2, der zu einem schon verfolgten Verweis zurückführt</translation>
    </message>
    <message>
        <source>%1: link to %2, one link too many in a row</source>
        <translation>%1: Verweis auf %2, ein Verweis zu viel hintereinander</translation>
    </message>
    <message>
        <source>%1: names too many files and links; the rest are left out</source>
        <translation>%1: nennt zu viele Dateien und Verweise; der Rest wird ausgelassen</translation>
    </message>
    <message>
        <source>%1: line %2 is too long to name a file</source>
        <translation>%1: Zeile %2 ist zu lang für einen Dateinamen</translation>
    </message>
    <message>
        <source>%1: only the first %2 entries are read</source>
        <translation>%1: nur die ersten %2 Einträge werden gelesen</translation>
    </message>
    <message>
        <source>%1: link to %2: %3</source>
        <translation>%1: Verweis auf %2: %3</translation>
    </message>
    <message>
        <source>no such file</source>
        <translation>Datei nicht gefunden</translation>
    </message>
    <message>
        <source>is a directory</source>
        <translation>ist ein Verzeichnis</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>keine reguläre Datei</translation>
    </message>
    <message>
        <source>Unable to write to %1</source>
        <translation>%1 kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>Permission denied</source>
        <translation>Zugriff verweigert</translation>
    </message>
    <message>
        <source>No such file or directory</source>
        <translation>Datei oder Verzeichnis nicht gefunden</translation>
    </message>
    <message>
        <source>Not a directory</source>
        <translation>Kein Verzeichnis</translation>
    </message>
    <message>
        <source>No space left on device</source>
        <translation>Kein Platz mehr auf dem Gerät</translation>
    </message>
    <message>
        <source>Read-only file system</source>
        <translation>Dateisystem nur lesbar</translation>
    </message>
    <message>
        <source>File name too long</source>
        <translation>Dateiname zu lang</translation>
    </message>
    <message>
        <source>%1: link file that names no file</source>
        <translation>%1: Verweisdatei, die keine Datei nennt</translation>
    </message>
    <message>
        <source>Could not open &apos;%1&apos;: %2</source>
        <translation>„%1“ konnte nicht geöffnet werden: %2</translation>
    </message>
    <message>
        <source>Could not save &apos;%1&apos;: %2</source>
        <translation>„%1“ konnte nicht gespeichert werden: %2</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is the input file &apos;%2&apos; itself</source>
        <translation>„%1“ ist die Eingabedatei „%2“ selbst</translation>
    </message>
    <message>
        <source>Completed</source>
        <translation>Abgeschlossen</translation>
    </message>
    <message>
        <source>Completed (%1)</source>
        <translation>Abgeschlossen (%1)</translation>
    </message>
    <message>
        <source>%1 of %2</source>
        <translation>%1 von %2</translation>
    </message>
    <message>
        <source>Failed</source>
        <translation>Fehlgeschlagen</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Fehler</translation>
    </message>
    <message>
        <source>Information</source>
        <translation>Hinweis</translation>
    </message>
    <message>
        <source>Cannot convert: %1</source>
        <translation>Konvertierung nicht möglich: %1</translation>
    </message>
    <message>
        <source>Please select files to be converted.</source>
        <translation>Bitte wählen Sie die zu konvertierenden Dateien aus.</translation>
    </message>
    <message>
        <source>Cannot write to the output folder &quot;%1&quot;: %2.</source>
        <translation>In den Ausgabeordner „%1“ kann nicht geschrieben werden: %2.</translation>
    </message>
    <message>
        <source>%1. Please re-install the program and try it again.</source>
        <translation>%1. Bitte installieren Sie das Programm neu und versuchen Sie es noch einmal.</translation>
    </message>
    <message>
        <source>File conversion process finished.</source>
        <translation>Die Konvertierung der Dateien ist abgeschlossen.</translation>
    </message>
    <message>
        <source>1 Channel, Mono</source>
        <translation>1 Kanal, Mono</translation>
    </message>
    <message>
        <source>2 Channels, Stereo</source>
        <translation>2 Kanäle, Stereo</translation>
    </message>
    <message>
        <source>Automatic</source>
        <translation>Automatisch</translation>
    </message>
    <message>
        <source>Same as source</source>
        <translation>Wie die Quelle</translation>
    </message>
    <message>
        <source>VBR high</source>
        <translation>VBR hoch</translation>
    </message>
    <message>
        <source>VBR standard</source>
        <translation>VBR Standard</translation>
    </message>
    <message>
        <source>VBR small</source>
        <translation>VBR klein</translation>
    </message>
    <message>
        <source>%1 · Frame %2 · %3 fps</source>
        <translation>%1 · Bild %2 · %3 B/s</translation>
    </message>
    <message>
        <source>MP3 audio</source>
        <translation>MP3-Audio</translation>
    </message>
    <message>
        <source>M4A audio (AAC)</source>
        <translation>M4A-Audio (AAC)</translation>
    </message>
    <message>
        <source>Opus audio</source>
        <translation>Opus-Audio</translation>
    </message>
    <message>
        <source>Ogg Vorbis audio</source>
        <translation>Ogg-Vorbis-Audio</translation>
    </message>
    <message>
        <source>FLAC audio (lossless)</source>
        <translation>FLAC-Audio (verlustfrei)</translation>
    </message>
    <message>
        <source>WAV audio (uncompressed)</source>
        <translation>WAV-Audio (unkomprimiert)</translation>
    </message>
    <message>
        <source>MP4 video (H.264/AAC)</source>
        <translation>MP4-Video (H.264/AAC)</translation>
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
        <translation>MKV-Video (H.264/AAC)</translation>
    </message>
    <message>
        <source>DVCPRO 50 (4:2:2)</source>
        <translation>DVCPRO 50 (4:2:2)</translation>
    </message>
    <message>
        <source>has no video stream to write as %1</source>
        <translation>hat keinen Videostrom für %1</translation>
    </message>
    <message>
        <source>Stopped (%1)</source>
        <translation>Gestoppt (%1)</translation>
    </message>
    <message>
        <source>Skipped</source>
        <translation>Übersprungen</translation>
    </message>
    <message>
        <source>Waiting to be read</source>
        <translation>Wartet auf das Einlesen</translation>
    </message>
    <message>
        <source>Number the new file</source>
        <translation>Neue Datei nummerieren</translation>
    </message>
    <message>
        <source>Skip the file</source>
        <translation>Datei überspringen</translation>
    </message>
    <message>
        <source>Replace the old file</source>
        <translation>Alte Datei ersetzen</translation>
    </message>
</context>
<context>
    <name>TReason</name>
    <message>
        <source>Cannot read the input</source>
        <translation>Die Eingabe kann nicht gelesen werden</translation>
    </message>
    <message>
        <source>The link names nothing that can be converted</source>
        <translation>Der Verweis nennt nichts, was umgewandelt werden kann</translation>
    </message>
    <message>
        <source>The input has nothing to write as this format</source>
        <translation>Die Eingabe enthält nichts, was in diesem Format geschrieben werden kann</translation>
    </message>
    <message>
        <source>Cannot write to the output folder</source>
        <translation>In den Ausgabeordner kann nicht geschrieben werden</translation>
    </message>
    <message>
        <source>The output would replace the input</source>
        <translation>Die Ausgabe würde die Eingabe ersetzen</translation>
    </message>
    <message>
        <source>The output&apos;s name cannot be used</source>
        <translation>Der Name der Ausgabe kann nicht verwendet werden</translation>
    </message>
    <message>
        <source>The disk is full</source>
        <translation>Der Datenträger ist voll</translation>
    </message>
    <message>
        <source>The input could not be decoded</source>
        <translation>Die Eingabe konnte nicht dekodiert werden</translation>
    </message>
    <message>
        <source>The conversion failed</source>
        <translation>Die Umwandlung ist fehlgeschlagen</translation>
    </message>
    <message>
        <source>Stopped</source>
        <translation>Gestoppt</translation>
    </message>
    <message>
        <source>The input ends early</source>
        <translation>Die Eingabe endet vorzeitig</translation>
    </message>
    <message>
        <source>The output exists already</source>
        <translation>Die Ausgabe existiert schon</translation>
    </message>
    <message>
        <source>No permission to read it</source>
        <translation>Keine Berechtigung zum Lesen</translation>
    </message>
    <message>
        <source>The name is too long</source>
        <translation>Der Name ist zu lang</translation>
    </message>
    <message>
        <source>Not a file (a device, a pipe or a socket)</source>
        <translation>Keine Datei (ein Gerät, eine Pipe oder ein Socket)</translation>
    </message>
    <message>
        <source>The link points to nothing</source>
        <translation>Die Verknüpfung zeigt ins Leere</translation>
    </message>
    <message>
        <source>Removed or replaced before its turn</source>
        <translation>Entfernt oder ersetzt, bevor sie an der Reihe war</translation>
    </message>
</context>
<context>
    <name>TSummaryDialog</name>
    <message>
        <source>Summary of the conversion</source>
        <translation>Zusammenfassung der Konvertierung</translation>
    </message>
    <message>
        <source>&amp;Open folder</source>
        <translation>&amp;Ordner öffnen</translation>
    </message>
    <message>
        <source>&amp;Copy</source>
        <translation>&amp;Kopieren</translation>
    </message>
    <message>
        <source>Close</source>
        <translation>Schließen</translation>
    </message>
</context>
</TS>
