<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>PasskeyOverlay</name>
    <message numerus="yes">
        <source>Wrong PIN. %n attempt(s) left.</source>
        <translation>
            <numerusform>Wrong PIN. %n attempt left.</numerusform>
            <numerusform>Wrong PIN. %n attempts left.</numerusform>
        </translation>
    </message>
</context>
</TS>
