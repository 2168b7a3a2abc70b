from recipes import centred, concat, pca_white
RECIPES = []
for l in ["block_13_expand_relu", "block_13_depthwise_relu", "block_14_add"]:
    for k in (8, 16, 32):
        for s in (0.5, 2.0):
            RECIPES.append((f"{l} pca k={k} shrink={s}", pca_white(f"{l}/gap", k, s), False))
