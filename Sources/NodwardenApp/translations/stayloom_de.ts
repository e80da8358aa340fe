<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="de_DE">
<context>
    <name>AgentHooks</name>
    <message>
        <source>A hook hands Stayloom the event&apos;s name and the session&apos;s id, never a prompt.</source>
        <translation>Ein Hook übergibt Stayloom nur den Namen des Ereignisses und die Kennung der Sitzung, niemals eine Eingabe.</translation>
    </message>
</context>
<context>
    <name>AgentRows</name>
    <message>
        <source>1 session</source>
        <translation>1 Sitzung</translation>
    </message>
    <message>
        <source>%1 sessions</source>
        <translation>%1 Sitzungen</translation>
    </message>
    <message>
        <source>CPU activity</source>
        <translation>CPU-Aktivität</translation>
    </message>
    <message>
        <source>running</source>
        <translation>läuft</translation>
    </message>
    <message>
        <source>active</source>
        <translation>aktiv</translation>
    </message>
    <message>
        <source>recent activity</source>
        <translation>kürzlich aktiv</translation>
    </message>
    <message>
        <source>session open</source>
        <translation>Sitzung offen</translation>
    </message>
    <message>
        <source>Kept awake by stayloom run</source>
        <translation>Wach gehalten von „stayloom run“</translation>
    </message>
</context>
<context>
    <name>ControlClient</name>
    <message>
        <source>Stayloom cannot be reached: the path of its control socket is too long for this system. Set XDG_RUNTIME_DIR to a shorter folder.
</source>
        <translation>Stayloom ist nicht erreichbar: Der Pfad seines Steuer-Sockets ist für dieses System zu lang. Setzen Sie XDG_RUNTIME_DIR auf einen kürzeren Ordner.
</translation>
    </message>
    <message>
        <source>Stayloom is not running for this user. Start it with: stayloom
</source>
        <translation>Stayloom läuft für diesen Benutzer nicht. Starten Sie es mit: stayloom
</translation>
    </message>
    <message>
        <source>Cannot reach the running Stayloom: </source>
        <translation>Das laufende Stayloom ist nicht erreichbar: </translation>
    </message>
    <message>
        <source>The running Stayloom closed the connection without answering.
</source>
        <translation>Das laufende Stayloom hat die Verbindung ohne Antwort geschlossen.
</translation>
    </message>
    <message>
        <source>The running Stayloom did not answer within %1 s.
</source>
        <translation>Das laufende Stayloom hat nicht innerhalb von %1 s geantwortet.
</translation>
    </message>
    <message>
        <source>The running Stayloom gave an answer that is not one JSON object.
</source>
        <translation>Das laufende Stayloom hat eine Antwort gegeben, die kein einzelnes JSON-Objekt ist.
</translation>
    </message>
    <message>
        <source>The running Stayloom is busy answering other commands. Try again in a moment.
</source>
        <translation>Das laufende Stayloom beantwortet gerade andere Befehle. Versuchen Sie es gleich noch einmal.
</translation>
    </message>
    <message>
        <source>The running Stayloom refused: </source>
        <translation>Das laufende Stayloom hat abgelehnt: </translation>
    </message>
    <message>
        <source>Stayloom (process %1) was asked to quit but still runs.
</source>
        <translation>Stayloom (Prozess %1) wurde zum Beenden aufgefordert, läuft aber noch.
</translation>
    </message>
    <message>
        <source>Stayloom has quit.
</source>
        <translation>Stayloom wurde beendet.
</translation>
    </message>
    <message>
        <source>Terms accepted.
</source>
        <translation>Nutzungsbedingungen akzeptiert.
</translation>
    </message>
    <message>
        <source>on</source>
        <translation>an</translation>
    </message>
    <message>
        <source>off</source>
        <translation>aus</translation>
    </message>
    <message>
        <source> · mode </source>
        <translation> · Modus </translation>
    </message>
    <message>
        <source>Stayloom has stopped.
</source>
        <translation>Stayloom wurde beendet.
</translation>
    </message>
    <message>
        <source>Launch at login stays %1.
</source>
        <translation>Bei der Anmeldung starten bleibt %1.
</translation>
    </message>
    <message>
        <source>Launch at login: %1, was %2.
</source>
        <translation>Bei der Anmeldung starten: %1, war %2.
</translation>
    </message>
</context>
<context>
    <name>FirstRun</name>
    <message>
        <source>Command-line agents</source>
        <translation>Kommandozeilen-Agenten</translation>
    </message>
    <message>
        <source>Desktop apps</source>
        <translation>Desktop-Anwendungen</translation>
    </message>
    <message>
        <source>Code editors &amp; agentic IDEs</source>
        <translation>Code-Editoren und agentische Entwicklungsumgebungen</translation>
    </message>
    <message>
        <source>Welcome to Stayloom</source>
        <translation>Willkommen bei Stayloom</translation>
    </message>
    <message>
        <source>Private by design</source>
        <translation>Von Grund auf privat</translation>
    </message>
    <message>
        <source>Use it responsibly</source>
        <translation>Verantwortungsvoll nutzen</translation>
    </message>
    <message>
        <source>By clicking “I Agree,” you accept our</source>
        <translation>Mit „Zustimmen“ akzeptieren Sie unsere</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>I Agree</source>
        <translation>Zustimmen</translation>
    </message>
    <message>
        <source>Set Up Stayloom</source>
        <translation>Stayloom einrichten</translation>
    </message>
    <message>
        <source>Confirm which agents to watch</source>
        <translation>Wählen Sie die Agenten, die beobachtet werden</translation>
    </message>
    <message>
        <source>Only checked agents are monitored — and only while they are actually running. Browsers and custom apps can be added later in Settings.</source>
        <translation>Nur angehakte Agenten werden beobachtet – und nur, solange sie tatsächlich laufen. Browser und eigene Programme lassen sich später in den Einstellungen hinzufügen.</translation>
    </message>
    <message>
        <source>Open Claude, Cursor, or another agent and start a task — this check updates live every few seconds.</source>
        <translation>Öffnen Sie Claude, Cursor oder einen anderen Agenten und starten Sie eine Aufgabe – diese Prüfung aktualisiert sich alle paar Sekunden.</translation>
    </message>
    <message>
        <source>Back</source>
        <translation>Zurück</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Weiter</translation>
    </message>
    <message>
        <source>Done</source>
        <translation>Fertig</translation>
    </message>
    <message>
        <source>Open Settings…</source>
        <translation>Einstellungen öffnen …</translation>
    </message>
    <message>
        <source>Launch Stayloom at login</source>
        <translation>Stayloom bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>EULA</source>
        <translation>Lizenzvertrag</translation>
    </message>
    <message>
        <source>Privacy Policy</source>
        <translation>Datenschutzerklärung</translation>
    </message>
    <message>
        <source>Terms</source>
        <translation>Nutzungsbedingungen</translation>
    </message>
</context>
<context>
    <name>HeadlessWindowPresenter</name>
    <message>
        <source>Stayloom keeps nothing awake until its terms are accepted, and cannot ask for them here: %1. Read them at %2, then finish set-up from a terminal with:
</source>
        <translation>Stayloom hält nichts wach, bis die Nutzungsbedingungen akzeptiert sind, und kann hier nicht danach fragen: %1. Lesen Sie sie unter %2 und schließen Sie die Einrichtung dann in einem Terminal ab mit:
</translation>
    </message>
    <message>
        <source>Stayloom keeps nothing awake until a mode is chosen, and cannot ask for one here: %1. Finish set-up from a terminal with:
</source>
        <translation>Stayloom hält nichts wach, bis ein Modus gewählt ist, und kann hier nicht danach fragen: %1. Schließen Sie die Einrichtung in einem Terminal ab mit:
</translation>
    </message>
</context>
<context>
    <name>KeepAwakeReason</name>
    <message>
        <source>Keeping awake for %1</source>
        <translation>Hält %1 lang wach</translation>
    </message>
    <message>
        <source>Manual keep-awake</source>
        <translation>Manuell wach gehalten</translation>
    </message>
    <message>
        <source>Plugged in: keeping awake</source>
        <translation>Am Netz: hält wach</translation>
    </message>
    <message>
        <source>Waiting a moment after the agents&apos; work</source>
        <translation>Wartet kurz nach der Arbeit der Agenten</translation>
    </message>
    <message>
        <source>%1 is working</source>
        <translation>%1 arbeitet</translation>
    </message>
    <message>
        <source>An agent is working</source>
        <translation>Ein Agent arbeitet</translation>
    </message>
</context>
<context>
    <name>ModeWords</name>
    <message>
        <source>keep awake while agents work, then let it sleep</source>
        <translation>wach halten, solange Agenten arbeiten, danach schlafen lassen</translation>
    </message>
    <message>
        <source>keep awake until you change the mode</source>
        <translation>wach halten, bis Sie den Modus ändern</translation>
    </message>
    <message>
        <source>keep awake for the current work, then sleep</source>
        <translation>für die laufende Arbeit wach halten, danach schlafen</translation>
    </message>
    <message>
        <source>keep awake without limit while plugged in</source>
        <translation>am Netz unbegrenzt wach halten</translation>
    </message>
    <message>
        <source>keep nothing awake</source>
        <translation>nichts wach halten</translation>
    </message>
</context>
<context>
    <name>PanelTexts</name>
    <message>
        <source>none detected</source>
        <translation>keine erkannt</translation>
    </message>
    <message>
        <source>%1 working</source>
        <translation>%1 aktiv</translation>
    </message>
    <message>
        <source>%1 ran %2</source>
        <translation>%1 lief %2</translation>
    </message>
    <message>
        <source>An agent ran %1</source>
        <translation>Ein Agent lief %1</translation>
    </message>
    <message>
        <source>protected the whole run</source>
        <translation>den ganzen Lauf geschützt</translation>
    </message>
    <message>
        <source>protected</source>
        <translation>geschützt</translation>
    </message>
    <message>
        <source>stayed awake the whole run</source>
        <translation>den ganzen Lauf wach geblieben</translation>
    </message>
    <message>
        <source>stayed awake</source>
        <translation>wach geblieben</translation>
    </message>
    <message>
        <source>1 sleep stopped</source>
        <translation>1 Ruhezustand verhindert</translation>
    </message>
    <message>
        <source>%1 sleeps stopped</source>
        <translation>%1 Ruhezustände verhindert</translation>
    </message>
    <message>
        <source>%1h %2</source>
        <translation>%1 Std. %2</translation>
    </message>
    <message>
        <source>%1s</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>%1m</source>
        <translation>%1 min</translation>
    </message>
    <message>
        <source>%1h %2m</source>
        <translation>%1 h %2 min</translation>
    </message>
    <message>
        <source>&lt;1m</source>
        <translation>&lt;1 min</translation>
    </message>
    <message>
        <source>%1h</source>
        <translation>%1 h</translation>
    </message>
    <message>
        <source>just now</source>
        <translation>gerade eben</translation>
    </message>
    <message>
        <source>%1m ago</source>
        <translation>vor %1 min</translation>
    </message>
    <message>
        <source>%1h ago</source>
        <translation>vor %1 h</translation>
    </message>
    <message>
        <source>yesterday</source>
        <translation>gestern</translation>
    </message>
    <message>
        <source>%1d ago</source>
        <translation>vor %1 Tagen</translation>
    </message>
    <message>
        <source>%1 waiting for you</source>
        <translation>%1 warten auf Sie</translation>
    </message>
    <message>
        <source>%1 %2</source>
        <translation>%1 %2</translation>
    </message>
    <message>
        <source>until %1 · %2 left</source>
        <translation>bis %1 · noch %2</translation>
    </message>
</context>
<context>
    <name>PlatformWording</name>
    <message>
        <source>Keeps this computer awake while your AI coding agents work — then lets it sleep when they&apos;re done.</source>
        <translation>Hält diesen Rechner wach, solange Ihre KI-Programmieragenten arbeiten – und lässt ihn schlafen, sobald sie fertig sind.</translation>
    </message>
    <message>
        <source>Never opens your own files. On this computer it reads: the command lines and CPU use of running programs; the names and modification times of your agents&apos; session files; the status fields and record kinds — never the messages — of the agents&apos; own status records (Claude Code&apos;s sessions/&lt;pid&gt;.json, Copilot&apos;s open-sessions-state.json, the newest Codex rollout, Gemini&apos;s and Qwen&apos;s chat records, OpenCode&apos;s database); the visible text of tmux panes; and — only if your desktop&apos;s accessibility support is on — the on-screen text of the agent apps you enable and of the terminals we support. A command line can include a prompt you passed on it, and pane and on-screen text include whatever is visible, your code included: all of it is matched against status phrases on this computer and discarded on the spot, never stored and never sent. Nothing about your work leaves this computer. There are no analytics or telemetry of any kind, and this build makes no network connections at all.</source>
        <translation>Öffnet niemals Ihre eigenen Dateien. Auf diesem Rechner liest es: die Befehlszeilen und die CPU-Nutzung laufender Programme; die Namen und Änderungszeiten der Sitzungsdateien Ihrer Agenten; die Zustandsfelder und Eintragsarten – niemals die Nachrichten – der eigenen Zustandsdateien der Agenten (sessions/&lt;pid&gt;.json von Claude Code, open-sessions-state.json von Copilot, das neueste Codex-Protokoll, die Chatverläufe von Gemini und Qwen, die Datenbank von OpenCode); den sichtbaren Text von tmux-Bereichen; und – nur wenn die Barrierefreiheit Ihrer Arbeitsumgebung eingeschaltet ist – den Bildschirmtext der Agenten-Anwendungen, die Sie einschalten, und der unterstützten Terminals. Eine Befehlszeile kann eine dort übergebene Eingabe enthalten, und Bereichs- und Bildschirmtext enthalten alles Sichtbare, auch Ihren Code: All das wird auf diesem Rechner mit Zustandsformulierungen verglichen und sofort verworfen, nie gespeichert und nie gesendet. Nichts über Ihre Arbeit verlässt diesen Rechner. Es gibt keinerlei Analyse- oder Telemetriedaten, und diese Ausgabe baut überhaupt keine Netzwerkverbindungen auf.</translation>
    </message>
    <message>
        <source>Preventing sleep can add heat and battery use. Don&apos;t run a closed laptop under load in a bag or enclosed space — you use it at your own risk.</source>
        <translation>Das Verhindern des Ruhezustands kann Wärme und Akkuverbrauch erhöhen. Betreiben Sie ein zugeklapptes Notebook unter Last nicht in einer Tasche oder einem geschlossenen Raum – die Nutzung erfolgt auf eigene Gefahr.</translation>
    </message>
    <message>
        <source>Stayloom reads window titles and visible on-screen text of the agent apps you enable and of the terminals it supports, to tell “working” from “done”. Worth knowing what that covers: the visible text of an editor or terminal window includes your code. It is matched against short status phrases on this computer and discarded on the spot — never stored, never sent, never written to the log. It never opens your files. </source>
        <translation>Stayloom liest Fenstertitel und sichtbaren Bildschirmtext der Agenten-Anwendungen, die Sie einschalten, und der unterstützten Terminals, um „arbeitet“ von „fertig“ zu unterscheiden. Gut zu wissen, was das umfasst: Der sichtbare Text eines Editor- oder Terminalfensters enthält Ihren Code. Er wird auf diesem Rechner mit kurzen Zustandsformulierungen verglichen und sofort verworfen – nie gespeichert, nie gesendet, nie ins Protokoll geschrieben. Ihre Dateien werden nie geöffnet. </translation>
    </message>
    <message>
        <source>Turn on screen-text reading</source>
        <translation>Bildschirmtext-Erkennung einschalten</translation>
    </message>
    <message>
        <source>Turn On…</source>
        <translation>Einschalten …</translation>
    </message>
    <message>
        <source>Screen-text reading is on</source>
        <translation>Bildschirmtext-Erkennung ist eingeschaltet</translation>
    </message>
    <message>
        <source>Stayloom switches on your desktop&apos;s accessibility support and opens its settings where it can.</source>
        <translation>Stayloom schaltet die Barrierefreiheit Ihrer Arbeitsumgebung ein und öffnet deren Einstellungen, wo das möglich ist.</translation>
    </message>
    <message>
        <source>You&apos;re set — this computer stays awake while agents work.</source>
        <translation>Alles bereit – dieser Rechner bleibt wach, solange Agenten arbeiten.</translation>
    </message>
    <message>
        <source>Open Autostart Folder…</source>
        <translation>Autostart-Ordner öffnen …</translation>
    </message>
    <message>
        <source>Allow “Stayloom” in your desktop&apos;s startup applications so it starts at your next login.</source>
        <translation>Erlauben Sie „Stayloom“ in den Startprogrammen Ihrer Arbeitsumgebung, damit es bei der nächsten Anmeldung startet.</translation>
    </message>
    <message>
        <source>The autostart entry could not be written (</source>
        <translation>Der Autostart-Eintrag konnte nicht geschrieben werden (</translation>
    </message>
    <message>
        <source>). Check that ~/.config/autostart exists and is yours to write.</source>
        <translation>). Prüfen Sie, ob ~/.config/autostart existiert und Sie dort schreiben dürfen.</translation>
    </message>
    <message>
        <source>Launch at login isn’t active yet. Check the Stayloom entry in your desktop&apos;s startup applications (~/.config/autostart).</source>
        <translation>Der Start bei der Anmeldung ist noch nicht aktiv. Prüfen Sie den Stayloom-Eintrag in den Startprogrammen Ihrer Arbeitsumgebung (~/.config/autostart).</translation>
    </message>
    <message>
        <source>On, your screens go dark on their own while Stayloom keeps the computer itself awake for your agents — for overnight runs with external monitors you&apos;d rather not leave lit. Off (the default), the display stays on too.</source>
        <translation>Eingeschaltet werden Ihre Bildschirme von selbst dunkel, während Stayloom den Rechner selbst für Ihre Agenten wach hält – für nächtliche Läufe mit externen Monitoren, die nicht leuchten sollen. Ausgeschaltet (die Voreinstellung) bleibt auch die Anzeige an.</translation>
    </message>
    <message>
        <source>You don&apos;t need to turn this on. Stayloom already keeps this computer awake for your agents whenever the lid is open — automatically, and without ever asking for a password. Switch it on only if you want your agents to keep running with the lid closed; your system will ask for your password once.</source>
        <translation>Das müssen Sie nicht einschalten. Stayloom hält diesen Rechner bei geöffnetem Deckel ohnehin für Ihre Agenten wach – automatisch und ohne je nach einem Passwort zu fragen. Schalten Sie es nur ein, wenn Ihre Agenten auch bei geschlossenem Deckel weiterlaufen sollen; Ihr System fragt dann einmal nach Ihrem Passwort.</translation>
    </message>
    <message>
        <source>A closed lid under heavy work with no external cooling can overheat this computer — don&apos;t leave it running in a bag or a closed space.</source>
        <translation>Ein geschlossener Deckel bei hoher Last ohne externe Kühlung kann diesen Rechner überhitzen – lassen Sie ihn nicht in einer Tasche oder einem geschlossenen Raum laufen.</translation>
    </message>
    <message>
        <source>Once Stayloom keeps this computer awake for real agent work with the lid closed, the time saved shows up here.</source>
        <translation>Sobald Stayloom diesen Rechner bei geschlossenem Deckel für echte Agentenarbeit wach hält, erscheint hier die gewonnene Zeit.</translation>
    </message>
    <message>
        <source>Stats are stored only on this computer and never leave it.</source>
        <translation>Die Statistik wird nur auf diesem Rechner gespeichert und verlässt ihn nie.</translation>
    </message>
    <message>
        <source>Turns the sleep switch back on (stayloom-sleep-switch enable) and stops the keep-awake helper.</source>
        <translation>Schaltet den Ruhezustand wieder ein (stayloom-sleep-switch enable) und beendet das Wachhalte-Hilfsprogramm.</translation>
    </message>
    <message>
        <source>Screen-Text Reading</source>
        <translation>Bildschirmtext-Erkennung</translation>
    </message>
    <message>
        <source>Read the on-screen text of agent apps and terminals</source>
        <translation>Bildschirmtext von Agenten-Anwendungen und Terminals lesen</translation>
    </message>
    <message>
        <source>Process and CPU checks still run when screen-text reading is off.</source>
        <translation>Prozess- und CPU-Prüfungen laufen auch bei ausgeschalteter Bildschirmtext-Erkennung weiter.</translation>
    </message>
    <message>
        <source>Desktop accessibility support</source>
        <translation>Barrierefreiheit der Arbeitsumgebung</translation>
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
        <source>Turn On Screen-Text Reading</source>
        <translation>Bildschirmtext-Erkennung einschalten</translation>
    </message>
    <message>
        <source>Network activity is not used: which program sends what is hard to tell apart reliably, and watching it would intrude on your privacy.</source>
        <translation>Netzwerkaktivität wird nicht ausgewertet: Welches Programm was sendet, lässt sich kaum zuverlässig unterscheiden, und die Beobachtung würde in Ihre Privatsphäre eingreifen.</translation>
    </message>
    <message>
        <source>This computer&apos;s work log starts now — keep an agent running.</source>
        <translation>Das Arbeitsprotokoll dieses Rechners beginnt jetzt – lassen Sie einen Agenten laufen.</translation>
    </message>
    <message>
        <source>This computer can&apos;t sleep — something left system sleep disabled.</source>
        <translation>Dieser Rechner kann nicht schlafen – etwas hat den Ruhezustand ausgeschaltet gelassen.</translation>
    </message>
    <message>
        <source>Click to turn on screen-text reading (your desktop&apos;s accessibility support).</source>
        <translation>Klicken, um die Bildschirmtext-Erkennung einzuschalten (die Barrierefreiheit Ihrer Arbeitsumgebung).</translation>
    </message>
    <message>
        <source>Lid-closed protection is NOT active — the sleep switch needs your admin password. This computer stays awake only while the lid is open. Turn “Keep awake with the lid closed” off and on in Settings, then approve the prompt.</source>
        <translation>Der Schutz bei geschlossenem Deckel ist NICHT aktiv – der Ruhezustandsschalter braucht Ihr Administratorpasswort. Dieser Rechner bleibt nur bei geöffnetem Deckel wach. Schalten Sie „Bei geschlossenem Deckel wach halten“ in den Einstellungen aus und wieder ein und bestätigen Sie dann die Abfrage.</translation>
    </message>
    <message>
        <source>Opened your autostart folder (%1). Stayloom starts at login from its entry there; “Launch at login” adds or removes it.</source>
        <translation>Ihr Autostart-Ordner wurde geöffnet (%1). Stayloom startet bei der Anmeldung über seinen Eintrag dort; „Bei der Anmeldung starten“ legt ihn an oder entfernt ihn.</translation>
    </message>
    <message>
        <source>No program on this desktop could open %1. Stayloom starts at login from its entry in that folder; “Launch at login” adds or removes it.</source>
        <translation>Kein Programm dieser Arbeitsumgebung konnte %1 öffnen. Stayloom startet bei der Anmeldung über seinen Eintrag in diesem Ordner; „Bei der Anmeldung starten“ legt ihn an oder entfernt ihn.</translation>
    </message>
    <message>
        <source>Stayloom switched on the desktop&apos;s accessibility support. This desktop has no settings page Stayloom can open: if agent apps still show no text, turn on “Assistive Technologies” (or “Accessibility”) in your desktop&apos;s settings and restart those apps.</source>
        <translation>Stayloom hat die Barrierefreiheit der Arbeitsumgebung eingeschaltet. Diese Arbeitsumgebung hat keine Einstellungsseite, die Stayloom öffnen kann: Zeigen Agenten-Anwendungen weiterhin keinen Text, schalten Sie in den Einstellungen Ihrer Arbeitsumgebung „Hilfstechnologien“ (oder „Barrierefreiheit“) ein und starten Sie diese Anwendungen neu.</translation>
    </message>
    <message>
        <source>Watch</source>
        <translation>Beobachten</translation>
    </message>
    <message>
        <source>Manual</source>
        <translation>Manuell</translation>
    </message>
    <message>
        <source>Sleep after work</source>
        <translation>Nach der Arbeit schlafen</translation>
    </message>
    <message>
        <source>Unlimited</source>
        <translation>Unbegrenzt</translation>
    </message>
    <message>
        <source>Keep awake for 1 hour</source>
        <translation>1 Stunde wach halten</translation>
    </message>
    <message>
        <source>Keep awake for 2 hours</source>
        <translation>2 Stunden wach halten</translation>
    </message>
    <message>
        <source>protected</source>
        <translation>geschützt</translation>
    </message>
    <message>
        <source>Protected</source>
        <translation>Geschützt</translation>
    </message>
    <message>
        <source>Nothing protected yet — close the lid during a run to count one</source>
        <translation>Noch nichts geschützt – klappen Sie während eines Laufs den Deckel zu, um einen zu zählen</translation>
    </message>
    <message>
        <source>On Xfce this setting has no effect: its power manager keeps the display on whenever it keeps the computer awake.</source>
        <translation>Unter Xfce hat diese Einstellung keine Wirkung: Seine Energieverwaltung lässt die Anzeige an, solange sie den Rechner wach hält.</translation>
    </message>
</context>
<context>
    <name>ReasonTexts</name>
    <message>
        <source>Stayloom is off</source>
        <translation>Stayloom ist ausgeschaltet</translation>
    </message>
    <message>
        <source>Battery level unavailable — releasing keep-awake to protect the battery</source>
        <translation>Akkustand unbekannt – Wachhalten wird beendet, um den Akku zu schonen</translation>
    </message>
    <message>
        <source>The battery is at or below its cutoff</source>
        <translation>Der Akku ist an oder unter seiner Abschaltgrenze</translation>
    </message>
    <message>
        <source>Thermal pressure is critical — releasing keep-awake so this computer can cool down</source>
        <translation>Die Temperatur ist kritisch – Wachhalten wird beendet, damit dieser Rechner abkühlen kann</translation>
    </message>
    <message>
        <source>Manual: kept awake until you change the mode</source>
        <translation>Manuell: wach gehalten, bis Sie den Modus ändern</translation>
    </message>
    <message>
        <source>Unlimited: plugged in, kept awake without limit</source>
        <translation>Unbegrenzt: am Netz, ohne Grenze wach gehalten</translation>
    </message>
    <message>
        <source>The agents stopped; waiting a moment before letting this computer sleep</source>
        <translation>Die Agenten haben aufgehört; kurze Wartezeit, bevor dieser Rechner schlafen darf</translation>
    </message>
    <message>
        <source>An agent is open but not working</source>
        <translation>Ein Agent ist geöffnet, arbeitet aber nicht</translation>
    </message>
    <message>
        <source>No agent is working</source>
        <translation>Kein Agent arbeitet</translation>
    </message>
    <message>
        <source>%1 CPU is above the work threshold</source>
        <translation>%1: CPU-Last über der Arbeitsschwelle</translation>
    </message>
    <message>
        <source>%1 is running</source>
        <translation>%1 läuft</translation>
    </message>
    <message>
        <source>%1 session active (%2s ago)</source>
        <translation>%1: Sitzung aktiv (vor %2 s)</translation>
    </message>
    <message>
        <source>Screen text matched the working phrase “%1”</source>
        <translation>Bildschirmtext passt zur Arbeitsformulierung „%1“</translation>
    </message>
    <message>
        <source>Screen text matched the idle phrase “%1”</source>
        <translation>Bildschirmtext passt zur Ruheformulierung „%1“</translation>
    </message>
    <message>
        <source>%1 reports it is working</source>
        <translation>%1 meldet, dass er arbeitet</translation>
    </message>
    <message>
        <source>%1 reports it is idle</source>
        <translation>%1 meldet, dass er ruht</translation>
    </message>
    <message>
        <source>%1 shows it is working</source>
        <translation>%1 zeigt, dass er arbeitet</translation>
    </message>
    <message>
        <source>%1 shows it is idle</source>
        <translation>%1 zeigt, dass er ruht</translation>
    </message>
    <message>
        <source>%1&apos;s chat awaits a reply</source>
        <translation>Der Chat von %1 wartet auf eine Antwort</translation>
    </message>
    <message>
        <source>%1&apos;s chat ends with a reply</source>
        <translation>Der Chat von %1 endet mit einer Antwort</translation>
    </message>
    <message>
        <source>%1 runs a one-shot prompt</source>
        <translation>%1 bearbeitet eine einmalige Anfrage</translation>
    </message>
    <message>
        <source>%1 has just started and has had no turn yet</source>
        <translation>%1 wurde gerade gestartet und hatte noch keinen Durchgang</translation>
    </message>
    <message>
        <source>%1 holds a lock against sleep</source>
        <translation>%1 hält eine Sperre gegen den Ruhezustand</translation>
    </message>
    <message>
        <source>%1 says it is working</source>
        <translation>%1 sagt, dass er arbeitet</translation>
    </message>
    <message>
        <source>%1 says it is idle</source>
        <translation>%1 sagt, dass er ruht</translation>
    </message>
    <message>
        <source>Screen-text reading is off — Stayloom cannot tell when %1 is working, so it will not keep this computer awake for it.</source>
        <translation>Die Bildschirmtext-Erkennung ist aus – Stayloom kann nicht erkennen, wann %1 arbeitet, und hält diesen Rechner dafür nicht wach.</translation>
    </message>
    <message>
        <source>Screen-text reading is off — Stayloom cannot tell when %1 are working, so it will not keep this computer awake for them.</source>
        <translation>Die Bildschirmtext-Erkennung ist aus – Stayloom kann nicht erkennen, wann %1 arbeiten, und hält diesen Rechner dafür nicht wach.</translation>
    </message>
    <message>
        <source>Optional: your watched agents are detected without it.</source>
        <translation>Optional: Ihre beobachteten Agenten werden auch ohne sie erkannt.</translation>
    </message>
    <message>
        <source>Required for your agents: without it, Stayloom cannot tell when %1 is working, so it will not keep this computer awake.</source>
        <translation>Für Ihre Agenten nötig: Ohne sie kann Stayloom nicht erkennen, wann %1 arbeitet, und hält diesen Rechner nicht wach.</translation>
    </message>
    <message>
        <source>Required for your agents: without it, Stayloom cannot tell when %1 are working, so it will not keep this computer awake.</source>
        <translation>Für Ihre Agenten nötig: Ohne sie kann Stayloom nicht erkennen, wann %1 arbeiten, und hält diesen Rechner nicht wach.</translation>
    </message>
    <message>
        <source>Needed for %1: without it, their work cannot be seen. Your other agents are still detected without it.</source>
        <translation>Nötig für %1: Ohne sie ist deren Arbeit nicht zu sehen. Ihre anderen Agenten werden auch ohne sie erkannt.</translation>
    </message>
    <message>
        <source>No agents detected yet</source>
        <translation>Noch keine Agenten erkannt</translation>
    </message>
    <message>
        <source>Watching — %1 detected</source>
        <translation>Beobachtet – %1 erkannt</translation>
    </message>
    <message>
        <source>Watching — %1 is working</source>
        <translation>Beobachtet – %1 arbeitet</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Aus</translation>
    </message>
    <message>
        <source>Watching</source>
        <translation>Beobachtet</translation>
    </message>
    <message>
        <source>Keeping Awake</source>
        <translation>Hält wach</translation>
    </message>
    <message>
        <source>Idle Grace</source>
        <translation>Nachlaufzeit</translation>
    </message>
    <message>
        <source>Battery Safety</source>
        <translation>Akkuschutz</translation>
    </message>
    <message>
        <source>Thermal Safety</source>
        <translation>Überhitzungsschutz</translation>
    </message>
    <message>
        <source>Plugged In Unlimited</source>
        <translation>Am Netz unbegrenzt</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Offen</translation>
    </message>
    <message>
        <source>Closed</source>
        <translation>Geschlossen</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>%1%</source>
        <translation>%1 %</translation>
    </message>
    <message>
        <source>Battery unknown</source>
        <translation>Akku unbekannt</translation>
    </message>
    <message>
        <source>%1, AC Power</source>
        <translation>%1, Netzbetrieb</translation>
    </message>
    <message>
        <source>%1, Battery</source>
        <translation>%1, Akkubetrieb</translation>
    </message>
    <message>
        <source>working</source>
        <translation>arbeitet</translation>
    </message>
    <message>
        <source>probably working</source>
        <translation>arbeitet wohl</translation>
    </message>
    <message>
        <source>grace</source>
        <translation>Nachlauf</translation>
    </message>
    <message>
        <source>idle</source>
        <translation>ruht</translation>
    </message>
    <message>
        <source>%1 and %2</source>
        <translation>%1 und %2</translation>
    </message>
    <message>
        <source>%1, %2 and %3</source>
        <translation>%1, %2 und %3</translation>
    </message>
    <message>
        <source>%1, %2 and %3 more</source>
        <translation>%1, %2 und %3 weitere</translation>
    </message>
    <message>
        <source>%1 is waiting for your answer</source>
        <translation>%1 wartet auf Ihre Antwort</translation>
    </message>
    <message>
        <source>%1 runs a command through its tool</source>
        <translation>%1 führt über sein Werkzeug einen Befehl aus</translation>
    </message>
    <message>
        <source>A process %1 left running is busy</source>
        <translation>Ein Prozess, den %1 laufen ließ, ist beschäftigt</translation>
    </message>
    <message>
        <source>%1 runs where Stayloom may not read its files: only its CPU can speak</source>
        <translation>%1 läuft, wo Stayloom seine Dateien nicht lesen darf: Nur seine CPU-Last zählt</translation>
    </message>
    <message>
        <source>waiting for you</source>
        <translation>wartet auf Sie</translation>
    </message>
</context>
<context>
    <name>Settings</name>
    <message>
        <source>Plugged In</source>
        <translation>Am Netz</translation>
    </message>
    <message>
        <source>On Battery</source>
        <translation>Im Akkubetrieb</translation>
    </message>
    <message>
        <source>Enabled</source>
        <translation>Eingeschaltet</translation>
    </message>
    <message>
        <source>Not active — needs admin approval</source>
        <translation>Nicht aktiv – braucht die Zustimmung eines Administrators</translation>
    </message>
    <message>
        <source>Disabled</source>
        <translation>Ausgeschaltet</translation>
    </message>
    <message>
        <source>1 sleep stopped</source>
        <translation>1 Ruhezustand verhindert</translation>
    </message>
    <message>
        <source>%1 sleeps stopped</source>
        <translation>%1 Ruhezustände verhindert</translation>
    </message>
    <message>
        <source>No closed-lid run yet.</source>
        <translation>Noch kein Lauf bei geschlossenem Deckel.</translation>
    </message>
    <message>
        <source>Longest protected run: %1</source>
        <translation>Längster geschützter Lauf: %1</translation>
    </message>
    <message>
        <source>%1 hrs</source>
        <translation>%1 Std.</translation>
    </message>
    <message>
        <source>%1 value</source>
        <translation>%1, Wert</translation>
    </message>
    <message>
        <source>%1 %2 · %3</source>
        <translation>%1 %2 · %3</translation>
    </message>
    <message>
        <source>Kept working %1 (lid open)</source>
        <translation>Weitergearbeitet: %1 (Deckel offen)</translation>
    </message>
    <message>
        <source>Recovered ≈ %1 of work that would otherwise have been interrupted by sleep.</source>
        <translation>Gerettet: ≈ %1 Arbeit, die sonst vom Ruhezustand unterbrochen worden wäre.</translation>
    </message>
</context>
<context>
    <name>SettingsEditing</name>
    <message>
        <source>Kept awake %1 for agents (lid open)</source>
        <translation>%1 für Agenten wach gehalten (Deckel offen)</translation>
    </message>
</context>
<context>
    <name>SettingsTab</name>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Energie</translation>
    </message>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message>
        <source>Detection</source>
        <translation>Erkennung</translation>
    </message>
    <message>
        <source>Stats</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
</context>
<context>
    <name>StatusReport</name>
    <message>
        <source>Mode: %1</source>
        <translation>Modus: %1</translation>
    </message>
    <message>
        <source>Power: %1 (battery warning)</source>
        <translation>Stromversorgung: %1 (Akkuwarnung)</translation>
    </message>
    <message>
        <source>Power: %1</source>
        <translation>Stromversorgung: %1</translation>
    </message>
    <message>
        <source>Lid: %1</source>
        <translation>Deckel: %1</translation>
    </message>
    <message>
        <source>Last run: %1, %2</source>
        <translation>Letzter Lauf: %1, %2</translation>
    </message>
    <message>
        <source>Last run: none yet</source>
        <translation>Letzter Lauf: noch keiner</translation>
    </message>
    <message>
        <source>held</source>
        <translation>gehalten</translation>
    </message>
    <message>
        <source>not held</source>
        <translation>nicht gehalten</translation>
    </message>
    <message>
        <source>held, not heeded here</source>
        <translation>gehalten, hier nicht beachtet</translation>
    </message>
    <message>
        <source>not held, not heeded here</source>
        <translation>nicht gehalten, hier nicht beachtet</translation>
    </message>
    <message>
        <source>Locks: %1</source>
        <translation>Sperren: %1</translation>
    </message>
    <message>
        <source>Mode: %1 %2, then %3</source>
        <translation>Modus: %1 %2, danach %3</translation>
    </message>
    <message>
        <source>(decided by %1)</source>
        <translation>(entschieden von: %1)</translation>
    </message>
</context>
<context>
    <name>TerminalLineReader</name>
    <message>
        <source>its input is not a terminal</source>
        <translation>seine Eingabe ist kein Terminal</translation>
    </message>
    <message>
        <source>its output does not go to the terminal</source>
        <translation>seine Ausgabe geht nicht ans Terminal</translation>
    </message>
    <message>
        <source>it runs as a background job of the terminal</source>
        <translation>es läuft als Hintergrundauftrag des Terminals</translation>
    </message>
</context>
<context>
    <name>WaitingNotice</name>
    <message>
        <source>%1 is waiting for your answer</source>
        <translation>%1 wartet auf Ihre Antwort</translation>
    </message>
    <message>
        <source>It has stopped to ask you something. The computer may sleep while it waits.</source>
        <translation>Er hat angehalten, um Sie etwas zu fragen. Der Rechner darf schlafen, während er wartet.</translation>
    </message>
</context>
<context>
    <name>WarningRow</name>
    <message>
        <source>Click to restore normal sleep (asks for your password once).</source>
        <translation>Klicken, um den normalen Ruhezustand wiederherzustellen (fragt einmal nach Ihrem Passwort).</translation>
    </message>
</context>
<context>
    <name>WorkNotifier</name>
    <message>
        <source>Battery low</source>
        <translation>Akku schwach</translation>
    </message>
    <message>
        <source>The battery is at %1%.</source>
        <translation>Der Akku steht bei %1 %.</translation>
    </message>
    <message>
        <source>The battery is low.</source>
        <translation>Der Akku ist schwach.</translation>
    </message>
    <message>
        <source>At %1% the computer may sleep; plug it in to keep the agents working.</source>
        <translation>Bei %1 % kann der Rechner einschlafen; schließen Sie ihn ans Netz an, damit die Agenten weiterarbeiten.</translation>
    </message>
    <message>
        <source>Battery low — keep-awake stopped</source>
        <translation>Akku schwach – Wachhalten beendet</translation>
    </message>
    <message>
        <source>The battery is at %1%, below the cutoff.</source>
        <translation>Der Akku steht bei %1 %, unter der Abschaltgrenze.</translation>
    </message>
    <message>
        <source>The battery is below the cutoff.</source>
        <translation>Der Akku ist unter der Abschaltgrenze.</translation>
    </message>
    <message>
        <source>The computer may sleep again.</source>
        <translation>Der Rechner darf wieder schlafen.</translation>
    </message>
    <message>
        <source>Too hot — keep-awake stopped</source>
        <translation>Zu heiß – Wachhalten beendet</translation>
    </message>
    <message>
        <source>The computer is running hot. It may sleep again to cool down.</source>
        <translation>Der Rechner läuft heiß. Er darf wieder schlafen, um abzukühlen.</translation>
    </message>
    <message>
        <source>Lid-closed mode is off</source>
        <translation>Wachhalten bei geschlossenem Deckel ist aus</translation>
    </message>
    <message>
        <source>Switching sleep off was refused or failed. Keep the lid open to keep the agents working.</source>
        <translation>Das Ausschalten des Ruhezustands wurde abgelehnt oder ist fehlgeschlagen. Lassen Sie den Deckel offen, damit die Agenten weiterarbeiten.</translation>
    </message>
    <message>
        <source>Launch at login failed</source>
        <translation>Start bei der Anmeldung fehlgeschlagen</translation>
    </message>
    <message>
        <source>Stayloom could not set itself to start at login: %1</source>
        <translation>Stayloom konnte den Start bei der Anmeldung nicht einrichten: %1</translation>
    </message>
    <message>
        <source>The agents</source>
        <translation>Die Agenten</translation>
    </message>
    <message>
        <source>%1 worked %2.</source>
        <translation>%1 – %2 gearbeitet.</translation>
    </message>
    <message>
        <source>%1 finished.</source>
        <translation>%1 – fertig.</translation>
    </message>
    <message>
        <source>The computer may sleep in %1.</source>
        <translation>Der Rechner darf in %1 schlafen.</translation>
    </message>
    <message>
        <source>Agents finished</source>
        <translation>Agenten fertig</translation>
    </message>
    <message>
        <source>Sleep now</source>
        <translation>Jetzt schlafen</translation>
    </message>
    <message>
        <source>Keep awake 30 more minutes</source>
        <translation>30 Minuten länger wach halten</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::AgentHooksDialog</name>
    <message>
        <source>Connect Agents</source>
        <translation>Agenten verbinden</translation>
    </message>
    <message>
        <source>Disconnect</source>
        <translation>Trennen</translation>
    </message>
    <message>
        <source>Connect</source>
        <translation>Verbinden</translation>
    </message>
    <message>
        <source>Connecting an agent adds Stayloom&apos;s hooks to that agent&apos;s own settings, beside yours, so the agent says when a turn starts and ends. </source>
        <translation>Beim Verbinden trägt Stayloom seine Hooks in die eigenen Einstellungen des Agenten ein, neben Ihren, damit der Agent meldet, wann ein Durchgang beginnt und endet. </translation>
    </message>
    <message>
        <source>Connected; trust it in Codex&apos;s /hooks screen</source>
        <translation>Verbunden; bestätigen Sie es in Codex unter /hooks</translation>
    </message>
    <message>
        <source>Connected</source>
        <translation>Verbunden</translation>
    </message>
    <message>
        <source>Not connected</source>
        <translation>Nicht verbunden</translation>
    </message>
    <message>
        <source>Not found</source>
        <translation>Nicht gefunden</translation>
    </message>
    <message>
        <source>Looked for %1 and for %2 on the search path; Connect makes %3</source>
        <translation>Gesucht: %1 und %2 im Suchpfad; „Verbinden“ legt %3 an</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::AgentsSection</name>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message>
        <source>Agent summary</source>
        <translation>Agentenübersicht</translation>
    </message>
    <message>
        <source>No agents running</source>
        <translation>Keine Agenten aktiv</translation>
    </message>
    <message>
        <source>Nothing is watched — every agent is switched off.</source>
        <translation>Nichts wird beobachtet – alle Agenten sind ausgeschaltet.</translation>
    </message>
    <message>
        <source>Choose Agents…</source>
        <translation>Agenten wählen …</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::AppModel</name>
    <message>
        <source>Battery unknown</source>
        <translation>Akku unbekannt</translation>
    </message>
    <message>
        <source>Unknown</source>
        <translation>Unbekannt</translation>
    </message>
    <message>
        <source>Starting</source>
        <translation>Startet</translation>
    </message>
    <message>
        <source>Accept the Terms &amp; Privacy Policy to enable keep-awake.</source>
        <translation>Akzeptieren Sie Nutzungsbedingungen und Datenschutzerklärung, um das Wachhalten einzuschalten.</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::CommandRunRows</name>
    <message>
        <source>Kept awake for %1 (stayloom run)</source>
        <translation>Wach gehalten für %1 (stayloom run)</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::DurationSliderRow</name>
    <message>
        <source>10 sec</source>
        <translation>10 s</translation>
    </message>
    <message>
        <source>15 min</source>
        <translation>15 min</translation>
    </message>
    <message>
        <source> sec</source>
        <translation> s</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::FirstRunProgressDots</name>
    <message>
        <source>Step %1 of %2</source>
        <translation>Schritt %1 von %2</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::FooterBar</name>
    <message>
        <source>Actions</source>
        <translation>Aktionen</translation>
    </message>
    <message>
        <source>Settings</source>
        <translation>Einstellungen</translation>
    </message>
    <message>
        <source>Restore</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Quit</source>
        <translation>Beenden</translation>
    </message>
    <message>
        <source>Turn keep-awake off and restore normal sleep</source>
        <translation>Wachhalten ausschalten und den normalen Ruhezustand wiederherstellen</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::HeroView</name>
    <message>
        <source>Status</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Time kept awake</source>
        <translation>Wach gehaltene Zeit</translation>
    </message>
    <message>
        <source>Reason</source>
        <translation>Grund</translation>
    </message>
    <message>
        <source>Status: %1</source>
        <translation>Zustand: %1</translation>
    </message>
    <message>
        <source>%1 left</source>
        <translation>noch %1</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::ImpactBand</name>
    <message>
        <source>since
%1</source>
        <translation>seit
%1</translation>
    </message>
    <message>
        <source>Time kept working</source>
        <translation>Weitergearbeitete Zeit</translation>
    </message>
    <message>
        <source>Opens the statistics</source>
        <translation>Öffnet die Statistik</translation>
    </message>
    <message>
        <source>kept working</source>
        <translation>weitergearbeitet</translation>
    </message>
    <message>
        <source>kept awake</source>
        <translation>wach gehalten</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::InfoStrip</name>
    <message>
        <source>Power facts</source>
        <translation>Energiedaten</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Energie</translation>
    </message>
    <message>
        <source>Sleep</source>
        <translation>Ruhezustand</translation>
    </message>
    <message>
        <source>Lid</source>
        <translation>Deckel</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>Blocked</source>
        <translation>Verhindert</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::ModePicker</name>
    <message>
        <source>Mode</source>
        <translation>Modus</translation>
    </message>
    <message>
        <source>Mode: %1</source>
        <translation>Modus: %1</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::PowerProfileEditor</name>
    <message>
        <source>Battery cutoff</source>
        <translation>Akku-Abschaltgrenze</translation>
    </message>
    <message>
        <source>At or below this level, release sleep prevention and sleep.</source>
        <translation>Ab diesem Stand oder darunter wird das Wachhalten beendet und der Rechner schläft.</translation>
    </message>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
    <message>
        <source>Shows a warning before the cutoff.</source>
        <translation>Zeigt vor der Abschaltgrenze eine Warnung.</translation>
    </message>
    <message>
        <source>Unlimited while plugged in</source>
        <translation>Am Netz unbegrenzt</translation>
    </message>
    <message>
        <source>Sleep after completion</source>
        <translation>Nach Abschluss schlafen</translation>
    </message>
    <message>
        <source>Only sleep if lid is closed</source>
        <translation>Nur bei geschlossenem Deckel schlafen</translation>
    </message>
    <message>
        <source>Idle grace</source>
        <translation>Nachlaufzeit</translation>
    </message>
    <message>
        <source>CPU threshold</source>
        <translation>CPU-Schwelle</translation>
    </message>
    <message>
        <source>Higher means the app needs more CPU activity before it counts as working.</source>
        <translation>Höher bedeutet: Das Programm braucht mehr CPU-Aktivität, bevor es als arbeitend gilt.</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsAdvancedTab</name>
    <message>
        <source>Advanced</source>
        <translation>Erweitert</translation>
    </message>
    <message>
        <source>Debug Simulator</source>
        <translation>Testsimulator</translation>
    </message>
    <message>
        <source>Simulate Agent Active</source>
        <translation>Aktiven Agenten simulieren</translation>
    </message>
    <message>
        <source>Simulate Agent Finished</source>
        <translation>Fertigen Agenten simulieren</translation>
    </message>
    <message>
        <source>Logs</source>
        <translation>Protokolle</translation>
    </message>
    <message>
        <source>Open Log</source>
        <translation>Protokoll öffnen</translation>
    </message>
    <message>
        <source>Open Log Folder</source>
        <translation>Protokollordner öffnen</translation>
    </message>
    <message>
        <source>Emergency</source>
        <translation>Notfall</translation>
    </message>
    <message>
        <source>Emergency Restore Sleep Settings</source>
        <translation>Ruhezustand im Notfall wiederherstellen</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsAgentsTab</name>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message>
        <source>Command-line agents</source>
        <translation>Kommandozeilen-Agenten</translation>
    </message>
    <message>
        <source>Desktop apps</source>
        <translation>Desktop-Anwendungen</translation>
    </message>
    <message>
        <source>Code editors &amp; agentic IDEs</source>
        <translation>Code-Editoren und agentische Entwicklungsumgebungen</translation>
    </message>
    <message>
        <source>Browsers</source>
        <translation>Browser</translation>
    </message>
    <message>
        <source>Watch agents running inside browsers (noisy)</source>
        <translation>Agenten in Browsern beobachten (störanfällig)</translation>
    </message>
    <message>
        <source>Browser tabs trigger easily — enable only if you run agents in a browser.</source>
        <translation>Browser-Tabs lösen leicht aus – nur einschalten, wenn Sie Agenten im Browser nutzen.</translation>
    </message>
    <message>
        <source>Custom apps</source>
        <translation>Eigene Programme</translation>
    </message>
    <message>
        <source>Choose which AI agents to watch. Only checked agents are monitored — and only while they are actually running.</source>
        <translation>Wählen Sie, welche KI-Agenten beobachtet werden. Nur angehakte Agenten werden beobachtet – und nur, solange sie tatsächlich laufen.</translation>
    </message>
    <message>
        <source>One app or command name per line — for agents not listed above (matched loosely).</source>
        <translation>Ein Programm- oder Befehlsname pro Zeile – für Agenten, die oben nicht aufgeführt sind (großzügig verglichen).</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsDetectionTab</name>
    <message>
        <source>Detection</source>
        <translation>Erkennung</translation>
    </message>
    <message>
        <source>Agent Status Records</source>
        <translation>Zustandsdateien der Agenten</translation>
    </message>
    <message>
        <source>Read agents&apos; own status records</source>
        <translation>Eigene Zustandsdateien der Agenten lesen</translation>
    </message>
    <message>
        <source>Agent Hooks</source>
        <translation>Agenten-Hooks</translation>
    </message>
    <message>
        <source>Connect agents…</source>
        <translation>Agenten verbinden …</translation>
    </message>
    <message>
        <source>Heuristics</source>
        <translation>Heuristik</translation>
    </message>
    <message>
        <source>Reads only whether a running agent says it is working: the state field of its session file and the kind of its newest transcript entries, never prompts, replies or code.</source>
        <translation>Liest nur, ob ein laufender Agent angibt, dass er arbeitet: das Zustandsfeld seiner Sitzungsdatei und die Art seiner neuesten Verlaufseinträge, niemals Eingaben, Antworten oder Code.</translation>
    </message>
    <message>
        <source>Agents can tell Stayloom themselves when a turn starts and ends, through hooks in their own settings. Off until you connect them. </source>
        <translation>Agenten können Stayloom selbst mitteilen, wann ein Durchgang beginnt und endet – über Hooks in ihren eigenen Einstellungen. Aus, bis Sie sie verbinden. </translation>
    </message>
    <message>
        <source>CPU threshold is configured separately for Battery and Plugged In profiles in the Power tab.</source>
        <translation>Die CPU-Schwelle wird auf der Seite „Energie“ getrennt für Akku- und Netzbetrieb eingestellt.</translation>
    </message>
    <message>
        <source>Questions from Agents</source>
        <translation>Fragen von Agenten</translation>
    </message>
    <message>
        <source>Keep awake while an agent waits for me</source>
        <translation>Wach halten, während ein Agent auf mich wartet</translation>
    </message>
    <message>
        <source>An agent that asks you something (an approval, a question) is not working: the computer may sleep after the idle grace. Turn this on if you answer from another device.</source>
        <translation>Ein Agent, der Sie etwas fragt (eine Freigabe, eine Frage), arbeitet nicht: Der Rechner darf nach der Nachlaufzeit schlafen. Schalten Sie dies ein, wenn Sie von einem anderen Gerät aus antworten.</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsGeneralTab</name>
    <message>
        <source>General</source>
        <translation>Allgemein</translation>
    </message>
    <message>
        <source>Version </source>
        <translation>Version </translation>
    </message>
    <message>
        <source>Updates</source>
        <translation>Aktualisierungen</translation>
    </message>
    <message>
        <source>Automatically check for updates</source>
        <translation>Automatisch nach Aktualisierungen suchen</translation>
    </message>
    <message>
        <source>Check for Updates…</source>
        <translation>Nach Aktualisierungen suchen …</translation>
    </message>
    <message>
        <source>This build has no update feed; it is updated with the system&apos;s packages.</source>
        <translation>Diese Ausgabe hat keine eigene Aktualisierungsquelle; sie wird mit den Paketen des Systems aktualisiert.</translation>
    </message>
    <message>
        <source>Current State</source>
        <translation>Aktueller Zustand</translation>
    </message>
    <message>
        <source>Status</source>
        <translation>Zustand</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Energie</translation>
    </message>
    <message>
        <source>Detected agent</source>
        <translation>Erkannter Agent</translation>
    </message>
    <message>
        <source>Agents</source>
        <translation>Agenten</translation>
    </message>
    <message>
        <source>Lid-closed prevention</source>
        <translation>Wachhalten bei geschlossenem Deckel</translation>
    </message>
    <message>
        <source>Agent Detection</source>
        <translation>Agentenerkennung</translation>
    </message>
    <message>
        <source>Mode</source>
        <translation>Modus</translation>
    </message>
    <message>
        <source>Startup and Safety</source>
        <translation>Start und Sicherheit</translation>
    </message>
    <message>
        <source>Launch at login</source>
        <translation>Bei der Anmeldung starten</translation>
    </message>
    <message>
        <source>Restore normal sleep on quit</source>
        <translation>Beim Beenden den normalen Ruhezustand wiederherstellen</translation>
    </message>
    <message>
        <source>Let the display sleep</source>
        <translation>Bildschirm ausschalten lassen</translation>
    </message>
    <message>
        <source>Keep awake with the lid closed</source>
        <translation>Bei geschlossenem Deckel wach halten</translation>
    </message>
    <message>
        <source>Notifications</source>
        <translation>Benachrichtigungen</translation>
    </message>
    <message>
        <source>When the agents finish</source>
        <translation>Wenn die Agenten fertig sind</translation>
    </message>
    <message>
        <source>When the battery or heat lets the computer sleep</source>
        <translation>Wenn Akku oder Hitze den Rechner schlafen lassen</translation>
    </message>
    <message>
        <source>When the battery runs low</source>
        <translation>Wenn der Akku zur Neige geht</translation>
    </message>
    <message>
        <source>When lid-closed mode or launch at login fails</source>
        <translation>Wenn das Wachhalten bei geschlossenem Deckel oder der Start bei der Anmeldung fehlschlägt</translation>
    </message>
    <message>
        <source>No target agent apps detected right now.</source>
        <translation>Zurzeit keine Agenten-Anwendungen erkannt.</translation>
    </message>
    <message>
        <source>Tell me when agents finish:</source>
        <translation>Mir sagen, wenn Agenten fertig sind:</translation>
    </message>
    <message>
        <source>at once</source>
        <translation>sofort</translation>
    </message>
    <message>
        <source>after the grace</source>
        <translation>nach der Nachlaufzeit</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsPowerTab</name>
    <message>
        <source>On Battery</source>
        <translation>Im Akkubetrieb</translation>
    </message>
    <message>
        <source>Stricter limits protect battery and heat.</source>
        <translation>Strengere Grenzen schonen Akku und Temperatur.</translation>
    </message>
    <message>
        <source>Plugged In</source>
        <translation>Am Netz</translation>
    </message>
    <message>
        <source>Looser limits are used while AC power is connected.</source>
        <translation>Am Netz gelten lockerere Grenzen.</translation>
    </message>
    <message>
        <source>Power</source>
        <translation>Energie</translation>
    </message>
    <message>
        <source>Profile Switching</source>
        <translation>Profilwechsel</translation>
    </message>
    <message>
        <source>Current profile: %1</source>
        <translation>Aktuelles Profil: %1</translation>
    </message>
    <message>
        <source>If power is unplugged, Stayloom immediately switches to the battery profile.</source>
        <translation>Wird der Netzstecker gezogen, wechselt Stayloom sofort zum Akkuprofil.</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsStatsTab</name>
    <message>
        <source>Stats</source>
        <translation>Statistik</translation>
    </message>
    <message>
        <source>No saved sessions yet</source>
        <translation>Noch keine geretteten Sitzungen</translation>
    </message>
    <message>
        <source>Impact</source>
        <translation>Wirkung</translation>
    </message>
    <message>
        <source>Protected time by agent</source>
        <translation>Geschützte Zeit nach Agent</translation>
    </message>
    <message>
        <source>Longest run</source>
        <translation>Längster Lauf</translation>
    </message>
    <message>
        <source>30-day trend</source>
        <translation>Verlauf über 30 Tage</translation>
    </message>
    <message>
        <source>Last 30 days</source>
        <translation>Letzte 30 Tage</translation>
    </message>
    <message>
        <source>Kept working (lid open)</source>
        <translation>Weitergearbeitet (Deckel offen)</translation>
    </message>
    <message>
        <source>Reset</source>
        <translation>Zurücksetzen</translation>
    </message>
    <message>
        <source>Reset stats</source>
        <translation>Statistik zurücksetzen</translation>
    </message>
    <message>
        <source>Reset all stats?</source>
        <translation>Die gesamte Statistik zurücksetzen?</translation>
    </message>
    <message>
        <source>Reset Stats</source>
        <translation>Statistik zurücksetzen</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Abbrechen</translation>
    </message>
    <message>
        <source>Since </source>
        <translation>Seit </translation>
    </message>
    <message>
        <source>No per-agent breakdown yet.</source>
        <translation>Noch keine Aufschlüsselung nach Agenten.</translation>
    </message>
    <message>
        <source>Estimated time the OS would have slept — lid closed, agent actually working.</source>
        <translation>Geschätzte Zeit, in der das System geschlafen hätte – Deckel zu, Agent arbeitet wirklich.</translation>
    </message>
    <message>
        <source>Real keep-awake time with the lid open — useful, but not a proven sleep-prevention save.</source>
        <translation>Tatsächliche Wachzeit bei offenem Deckel – nützlich, aber kein nachgewiesen verhinderter Ruhezustand.</translation>
    </message>
    <message>
        <source>This clears every counter. It keeps your install date but cannot be undone.</source>
        <translation>Damit werden alle Zähler gelöscht. Das Installationsdatum bleibt erhalten, aber es lässt sich nicht rückgängig machen.</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::SettingsWindow</name>
    <message>
        <source>Stayloom Settings</source>
        <translation>Stayloom-Einstellungen</translation>
    </message>
    <message>
        <source>Settings tabs</source>
        <translation>Einstellungsseiten</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::TerminalModePrompt</name>
    <message>
        <source>How should Stayloom keep this computer awake?</source>
        <translation>Wie soll Stayloom diesen Rechner wach halten?</translation>
    </message>
    <message>
        <source>Change it any time with: stayloom mode &lt;name&gt;</source>
        <translation>Jederzeit zu ändern mit: stayloom mode &lt;Name&gt;</translation>
    </message>
    <message>
        <source>Mode [watch]: </source>
        <translation>Modus [watch]: </translation>
    </message>
    <message>
        <source>Type a number from the list or a mode&apos;s name, or press Return for watch: </source>
        <translation>Geben Sie eine Nummer aus der Liste oder den Namen eines Modus ein, oder drücken Sie die Eingabetaste für watch: </translation>
    </message>
    <message>
        <source>No mode chosen: Stayloom stays off. Choose one later with: stayloom mode watch</source>
        <translation>Kein Modus gewählt: Stayloom bleibt aus. Wählen Sie später einen mit: stayloom mode watch</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::TerminalTermsPrompt</name>
    <message>
        <source>
By answering “y”, you accept our
</source>
        <translation>
Mit der Antwort „j“ akzeptieren Sie unsere
</translation>
    </message>
    <message>
        <source>y</source>
        <translation>j</translation>
    </message>
    <message>
        <source>yes</source>
        <translation>ja</translation>
    </message>
    <message>
        <source>Do you accept? Type y and press Return (Ctrl+C quits): </source>
        <translation>Stimmen Sie zu? Geben Sie j ein und drücken Sie die Eingabetaste (Strg+C beendet): </translation>
    </message>
    <message>
        <source>Not accepted: Stayloom stays paused and keeps nothing awake until the terms are accepted. Type y to accept (Ctrl+C quits): </source>
        <translation>Nicht akzeptiert: Stayloom bleibt angehalten und hält nichts wach, bis die Nutzungsbedingungen akzeptiert sind. Geben Sie zum Akzeptieren j ein (Strg+C beendet): </translation>
    </message>
    <message>
        <source>No answer: Stayloom stays paused and keeps nothing awake until the terms are accepted. Accept them later with: stayloom accept-terms</source>
        <translation>Keine Antwort: Stayloom bleibt angehalten und hält nichts wach, bis die Nutzungsbedingungen akzeptiert sind. Akzeptieren Sie sie später mit: stayloom accept-terms</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::TrayIcon</name>
    <message>
        <source>Open Stayloom</source>
        <translation>Stayloom öffnen</translation>
    </message>
    <message>
        <source>Settings…</source>
        <translation>Einstellungen …</translation>
    </message>
    <message>
        <source>Quit Stayloom</source>
        <translation>Stayloom beenden</translation>
    </message>
    <message>
        <source>Awake for %1</source>
        <translation>Seit %1 wach</translation>
    </message>
    <message>
        <source>No system tray here: closing this window keeps Stayloom running. Start Stayloom again to bring it back.</source>
        <translation>Hier gibt es keinen Infobereich: Schließen Sie dieses Fenster, läuft Stayloom weiter. Starten Sie Stayloom erneut, um es zurückzuholen.</translation>
    </message>
    <message>
        <source>%1, then %2</source>
        <translation>%1, danach %2</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::TrendChart</name>
    <message>
        <source>30-day trend</source>
        <translation>Verlauf über 30 Tage</translation>
    </message>
</context>
<context>
    <name>nodwarden::app::WarningRow</name>
    <message>
        <source>Warning</source>
        <translation>Warnung</translation>
    </message>
</context>
</TS>
