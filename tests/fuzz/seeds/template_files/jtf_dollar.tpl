jtf $
recharge $ RCH1 $ end
k = $k$
